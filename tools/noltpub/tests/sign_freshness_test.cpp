// `noltpub sign --sequence N --expires TIME`: two more signed header keys, which the verifier
// passes over yet covers by the signature; values that do not read are refused before anything
// is written.
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "noltpub_test_fixture.h"
#include "test_pki.h"

namespace {

class SignFreshnessTest : public NoltpubTest {
 protected:
  NoltpubResult Sign(const std::vector<std::string>& options) {
    const TestPki& pki = SharedPki();
    WriteBytes(Path("in.xml"), "<manifest/>\n");
    std::vector<std::string> args = {"sign", "--cert", pki.signer.certificate, "--key",
                                     pki.signer.key};
    args.insert(args.end(), options.begin(), options.end());
    args.insert(args.end(), {Path("in.xml"), Path("out.xml")});
    return Run(args);
  }
  NoltpubResult Verify() {
    return Run({"verify", "--store", SharedPki().rootBundle, Path("out.xml")});
  }
};

TEST_F(SignFreshnessTest, SequenceAndExpiryAreSignedHeaderKeysTheVerifierPassesOver) {
  ASSERT_EQ(Sign({"--sequence", "4294967295", "--expires", "2026-12-01T10:00:00Z"}).code, 0);
  const std::string signedFile = ReadBytes(Path("out.xml"));
  EXPECT_NE(signedFile.find("\nExpires=2026-12-01T10:00:00Z\n"), std::string::npos);
  EXPECT_NE(signedFile.find("\nSequence=4294967295\n"), std::string::npos);
  EXPECT_EQ(Verify().code, 0);
  for (const auto& [from, to] : {std::pair<std::string, std::string>{"Sequence=4294967295",
                                                                     "Sequence=4294967294"},
                                 {"T10:00:00Z", "T11:00:00Z"}}) {
    std::string changed = signedFile;
    changed.replace(changed.find(from), from.size(), to);
    WriteBytes(Path("out.xml"), changed);
    EXPECT_EQ(Verify().code, 1) << to;
  }
}

TEST_F(SignFreshnessTest, ValuesThatDoNotReadAreRefusedAndNothingIsWritten) {
  const std::vector<std::vector<std::string>> cases = {
      {"--sequence", "-1"},     {"--sequence", "4294967296"}, {"--sequence", "1e3"},
      {"--sequence", ""},       {"--expires", "2026-12-01 10:00:00Z"},
      {"--expires", "2026-02-30T10:00:00Z"}, {"--expires", "2026-12-01T24:00:00Z"},
      {"--expires", "2026-12-01T10:00:00"},
  };
  for (const auto& options : cases) {
    const NoltpubResult result = Sign(options);
    EXPECT_EQ(result.code, 1) << options[1];
    EXPECT_NE(result.err.find(options[1]), std::string::npos) << result.err;
    EXPECT_FALSE(std::filesystem::exists(Path("out.xml")));
  }
}

}  // namespace
