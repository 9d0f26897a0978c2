// Files that `noltpub sign` writes: their exact layout, their signature checked by the openssl
// command line over the signed data spelled out here, and `noltpub verify`'s verdicts.
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>

#include "noltpub_test_fixture.h"
#include "test_pki.h"

namespace {

namespace fs = std::filesystem;

const std::string kContent = "<manifest>\n  <file name=\"a b.txt\"/>\n</manifest>\n";

class SignAndVerifyTest : public NoltpubTest {
 protected:
  SignAndVerifyTest() : pki_(SharedPki()) {}

  // Writes `content` to out.xml and signs it in place with the test signer (or `key`).
  NoltpubResult Sign(const std::string& content, const std::vector<std::string>& options,
                     const std::string& key = "") {
    WriteBytes(Path("out.xml"), content);
    std::vector<std::string> args = {"sign", "--cert", pki_.signer.certificate, "--key",
                                     key.empty() ? pki_.signer.key : key};
    args.insert(args.end(), options.begin(), options.end());
    args.insert(args.end(), {Path("out.xml"), Path("out.xml")});
    return Run(args);
  }

  NoltpubResult Verify(const std::string& bundle) {
    return Run({"verify", "--store", bundle, Path("out.xml")});
  }

  // openssl's own verdict on `signature` (Base64) over exactly `signedData`.
  bool OpensslVerifies(const std::string& signature, const std::string& signedData) {
    WriteBytes(Path("sig.b64"), signature);
    WriteBytes(Path("data.bin"), signedData);
    return RunCommand("openssl base64 -d -A -in '" + Path("sig.b64") + "' -out '" +
                      Path("sig.der") +
                      "' && openssl smime -verify -binary -purpose any -inform DER -in '" +
                      Path("sig.der") + "' -content '" + Path("data.bin") + "' -CAfile '" +
                      pki_.rootCertificate + "' -out /dev/null");
  }

  const TestPki& pki_;
};

// The header names the certificate, then the signed options; the signature covers the header
// lines with CR LF ends and the content, reduced in the Ignore-Whitespace mode.
TEST_F(SignAndVerifyTest, HeaderAndSignatureOfEachMode) {
  const std::string reduced = "<manifest><filename=\"ab.txt\"/></manifest>";
  std::string large;  // streamed through the file that replaces it
  for (int i = 0; large.size() < 200000; ++i) large += "<entry>" + std::to_string(i) + "</entry>";
  const struct {
    std::vector<std::string> options;
    std::vector<std::string> signedLines;  // between the certificate and the signature
    std::string content;
    std::string signedContent;
  } kModes[] = {
      {{}, {}, kContent, kContent},
      {{"--ignore-whitespace", "--content-length"},
       {"Content-Length=" + std::to_string(reduced.size()), "Mode=Ignore-Whitespace"},
       kContent,
       reduced},
      {{"--ignore-whitespace"}, {"Mode=Ignore-Whitespace"}, large, large},
  };
  const std::string certificate = "Certificate=" + pki_.signer.certificateBase64;
  for (const auto& mode : kModes) {
    ASSERT_EQ(Sign(mode.content, mode.options).code, 0);
    std::string header = "[Credentials]\n" + certificate + "\n";
    std::string signedData = certificate + "\r\n";
    for (const std::string& line : mode.signedLines) {
      header += line + "\n";
      signedData += line + "\r\n";
    }
    const std::string file = ReadBytes(Path("out.xml"));
    const size_t end = file.find("\n\n");
    ASSERT_EQ(file.substr(0, header.size() + 10), header + "Signature=");
    ASSERT_NE(end, std::string::npos);
    EXPECT_TRUE(file.substr(end + 2) == mode.content);
    EXPECT_TRUE(OpensslVerifies(file.substr(header.size() + 10, end - header.size() - 10),
                                signedData + mode.signedContent));
  }
}

// Bytes beyond the signed length do not matter, a changed byte within it does; another root's
// bundle does not trust the signer and a missing bundle trusts no one.
TEST_F(SignAndVerifyTest, VerifyTellsVerifiedFromNotVerified) {
  ASSERT_EQ(Sign(kContent, {"--content-length"}).code, 0);
  const std::string signedFile = ReadBytes(Path("out.xml"));
  std::string changed = signedFile;
  changed[changed.size() - 3] = 'X';
  RunCommand("openssl crl2pkcs7 -nocrl -certfile '" + pki_.directory +
             "/other.pem' -outform DER -out '" + Path("other.p7b") + "'");
  const std::string file = Path("out.xml");
  const struct {
    std::string bytes;
    std::string bundle;
    int code;
    std::string message;  // the start of the output line (verified) or the error line
  } kCases[] = {
      {signedFile, pki_.rootBundle, 0, file + ": verified\n"},
      {signedFile + "appended", pki_.rootBundle, 0, file + ": verified\n"},
      {signedFile, pki_.rootBundlePem, 0, file + ": verified\n"},
      {changed, pki_.rootBundle, 1,
       "noltpub: " + file + ": not verified: the signature does not match the file\n"},
      {signedFile, Path("other.p7b"), 1,
       "noltpub: " + file +
           ": not verified: the signer is not trusted (unable to get local issuer certificate"},
      {signedFile, Path("missing.p7b"), 1, "noltpub: "},
  };
  for (const auto& c : kCases) {
    WriteBytes(file, c.bytes);
    const NoltpubResult result = Verify(c.bundle);
    EXPECT_EQ(result.code, c.code) << result.err;
    EXPECT_EQ((c.code == 0 ? result.out : result.err).substr(0, c.message.size()), c.message);
    // The program's exit status is the verdict.
    const int status = std::system((std::string(NOLTPUB_PATH) + " verify --store '" + c.bundle +
                                    "' '" + file + "' >/dev/null 2>&1")
                                       .c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == c.code) << status;
  }
}

// A failed sign leaves the file it would have replaced as it was, and nothing else.
TEST_F(SignAndVerifyTest, FailedSignLeavesTheFilesAsTheyWere) {
  const NoltpubResult result = Sign(kContent, {}, pki_.stranger.key);
  EXPECT_EQ(result.code, 1);
  EXPECT_EQ(result.err, "noltpub: the key does not belong to the certificate\n");
  EXPECT_EQ(ReadBytes(Path("out.xml")), kContent);
  for (const auto& [in, out] : {std::pair{Path("missing.xml"), Path("out.xml")},
                                std::pair{Path("out.xml"), Path("no/such/dir/out.xml")}}) {
    EXPECT_EQ(
        Run({"sign", "--cert", pki_.signer.certificate, "--key", pki_.signer.key, in, out}).code,
        1);
  }
  EXPECT_EQ(ReadBytes(Path("out.xml")), kContent);
  EXPECT_EQ(std::distance(fs::directory_iterator(sandbox_.Root()), fs::directory_iterator()), 1);
}

TEST_F(SignAndVerifyTest, WrongCommandLinesShowTheUsage) {
  for (const char* line :
       {"", "sign a b", "sign --cert c --key k a", "verify f", "verify --store s --unknown f",
        "pack out.zip", "ca init", "ca make dir", "manifest check", "manifest list m.xml"}) {
    std::vector<std::string> args;
    for (std::istringstream words(line); words >> args.emplace_back();) {
    }
    args.pop_back();
    const NoltpubResult result = Run(args);
    EXPECT_EQ(result.code, 2) << line;
    EXPECT_EQ(result.err.rfind("usage: noltpub", 0), 0u) << line;
  }
}

}  // namespace
