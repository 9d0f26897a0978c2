// Files that `noltpub sign` writes: their exact layout, their signature checked by the openssl
// command line over the signed data spelled out here, and `noltpub verify`'s verdicts.
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include "noltpub_test_fixture.h"
#include "test_pki.h"

namespace {

struct SignedParts {
  std::vector<std::string> headerLines;  // without line ends, up to the empty line
  std::map<std::string, std::string> values;
  std::string content;
};

SignedParts Split(const std::string& file) {
  SignedParts parts;
  const size_t end = file.find("\n\n");
  EXPECT_NE(end, std::string::npos);
  std::string header = file.substr(0, end + 1);
  for (size_t start = 0; start < header.size();) {
    const size_t lineEnd = header.find('\n', start);
    const std::string line = header.substr(start, lineEnd - start);
    parts.headerLines.push_back(line);
    const size_t equals = line.find('=');
    if (equals != std::string::npos) parts.values[line.substr(0, equals)] = line.substr(equals + 1);
    start = lineEnd + 1;
  }
  parts.content = file.substr(end + 2);
  return parts;
}

class SignAndVerifyTest : public NoltpubTest {
 protected:
  SignAndVerifyTest() : pki_(SharedPki()) {}

  // Signs `content` with the test signer; returns the signed file's bytes.
  std::string SignContent(const std::string& content, const std::vector<std::string>& options) {
    WriteBytes(Path("in.xml"), content);
    std::vector<std::string> args = {"sign", "--cert", pki_.signer.certificate, "--key",
                                     pki_.signer.key};
    args.insert(args.end(), options.begin(), options.end());
    args.insert(args.end(), {Path("in.xml"), Path("out.xml")});
    const NoltpubResult result = Run(args);
    EXPECT_EQ(result.code, 0) << result.err;
    return ReadBytes(Path("out.xml"));
  }

  // openssl's own verdict on `signature` (Base64) over exactly `signedData`.
  bool OpensslVerifies(const std::string& signature, const std::string& signedData,
                       const std::string& rootCertificate) {
    WriteBytes(Path("sig.b64"), signature);
    WriteBytes(Path("data.bin"), signedData);
    return RunCommand(
        "openssl base64 -d -A -in '" + Path("sig.b64") + "' -out '" + Path("sig.der") +
        "' && openssl smime -verify -binary -purpose any -inform DER -in '" + Path("sig.der") +
        "' -content '" + Path("data.bin") + "' -CAfile '" + rootCertificate + "' -out /dev/null");
  }

  const TestPki& pki_;
};

const std::string kContent = "<manifest>\n  <file name=\"a b.txt\"/>\n</manifest>\n";

TEST_F(SignAndVerifyTest, PlainSignatureCoversTheCertificateLineAndTheContent) {
  const SignedParts parts = Split(SignContent(kContent, {}));
  ASSERT_EQ(parts.headerLines.size(), 3u);
  EXPECT_EQ(parts.headerLines[0], "[Credentials]");
  EXPECT_EQ(parts.headerLines[1], "Certificate=" + pki_.signer.certificateBase64);
  EXPECT_EQ(parts.headerLines[2].rfind("Signature=", 0), 0u);
  EXPECT_EQ(parts.content, kContent);
  EXPECT_TRUE(OpensslVerifies(parts.values.at("Signature"),
                              "Certificate=" + pki_.signer.certificateBase64 + "\r\n" + kContent,
                              pki_.rootCertificate));
}

TEST_F(SignAndVerifyTest, ModeAndLengthAreSignedAndTheContentIsReduced) {
  const SignedParts parts =
      Split(SignContent(kContent, {"--ignore-whitespace", "--content-length"}));
  const std::string reduced = "<manifest><filename=\"ab.txt\"/></manifest>";
  ASSERT_EQ(parts.headerLines.size(), 5u);
  EXPECT_EQ(parts.headerLines[2], "Content-Length=" + std::to_string(reduced.size()));
  EXPECT_EQ(parts.headerLines[3], "Mode=Ignore-Whitespace");
  EXPECT_EQ(parts.content, kContent);
  EXPECT_TRUE(OpensslVerifies(parts.values.at("Signature"),
                              "Certificate=" + pki_.signer.certificateBase64 +
                                  "\r\nContent-Length=" + std::to_string(reduced.size()) +
                                  "\r\nMode=Ignore-Whitespace\r\n" + reduced,
                              pki_.rootCertificate));
}

TEST_F(SignAndVerifyTest, VerifyTellsVerifiedFromNotVerified) {
  const std::string signedFile = SignContent(kContent, {"--content-length"});
  const NoltpubResult good = Run({"verify", "--store", pki_.rootBundle, Path("out.xml")});
  EXPECT_EQ(good.code, 0) << good.err;
  EXPECT_EQ(good.out, Path("out.xml") + ": verified\n");

  // Bytes beyond the signed length do not matter; a changed byte within it does.
  WriteBytes(Path("out.xml"), signedFile + "appended");
  EXPECT_EQ(Run({"verify", "--store", pki_.rootBundle, Path("out.xml")}).code, 0);
  std::string changed = signedFile;
  changed[changed.size() - 3] = 'X';
  WriteBytes(Path("out.xml"), changed);
  NoltpubResult bad = Run({"verify", "--store", pki_.rootBundle, Path("out.xml")});
  EXPECT_EQ(bad.code, 1);
  EXPECT_EQ(bad.err, "noltpub: " + Path("out.xml") +
                         ": not verified: the signature does not match the file\n");

  // Another root's bundle does not trust the signer.
  WriteBytes(Path("out.xml"), signedFile);
  RunCommand("openssl crl2pkcs7 -nocrl -certfile '" + pki_.directory +
             "/other.pem' -outform DER -out '" + Path("other.p7b") + "'");
  bad = Run({"verify", "--store", Path("other.p7b"), Path("out.xml")});
  EXPECT_EQ(bad.code, 1);
  EXPECT_NE(bad.err.find("the signer is not trusted (unable to get local issuer certificate"),
            std::string::npos)
      << bad.err;
  EXPECT_EQ(Run({"verify", "--store", Path("missing.p7b"), Path("out.xml")}).code, 1);
}

TEST_F(SignAndVerifyTest, SignRefusesAForeignKeyAndLeavesNoOutput) {
  WriteBytes(Path("in.xml"), kContent);
  NoltpubResult result = Run({"sign", "--cert", pki_.signer.certificate, "--key", pki_.stranger.key,
                              Path("in.xml"), Path("out.xml")});
  EXPECT_EQ(result.code, 1);
  EXPECT_EQ(result.err, "noltpub: the key does not belong to the certificate\n");
  result = Run({"sign", "--cert", pki_.signer.certificate, "--key", pki_.signer.key,
                Path("missing.xml"), Path("out.xml")});
  EXPECT_EQ(result.code, 1);
  result = Run({"sign", "--cert", pki_.signer.certificate, "--key", pki_.signer.key, Path("in.xml"),
                Path("no/such/dir/out.xml")});
  EXPECT_EQ(result.code, 1);
  EXPECT_FALSE(std::filesystem::exists(Path("out.xml")));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(sandbox_.Root()),
                          std::filesystem::directory_iterator()),
            1)
      << "only the input is left";
}

TEST_F(SignAndVerifyTest, SigningInPlaceReplacesTheFile) {
  std::string large;
  for (int i = 0; large.size() < 200000; ++i)
    large += "<entry id=\"" + std::to_string(i) + "\"/>\n";
  WriteBytes(Path("m.xml"), large);
  EXPECT_EQ(Run({"sign", "--cert", pki_.signer.certificate, "--key", pki_.signer.key,
                 "--ignore-whitespace", Path("m.xml"), Path("m.xml")})
                .code,
            0);
  EXPECT_EQ(Split(ReadBytes(Path("m.xml"))).content, large);
  EXPECT_EQ(Run({"verify", "--store", pki_.rootBundlePem, Path("m.xml")}).code, 0);
}

TEST_F(SignAndVerifyTest, WrongCommandLinesShowTheUsage) {
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{},
                                             {"sign", "a", "b"},
                                             {"sign", "--cert", "c", "--key", "k", "a"},
                                             {"verify", "f"},
                                             {"verify", "--store", "s", "--unknown", "f"},
                                             {"pack", "out.zip"},
                                             {"ca", "init"},
                                             {"ca", "make", "dir"}}) {
    const NoltpubResult result = Run(args);
    EXPECT_EQ(result.code, 2);
    EXPECT_EQ(result.err.rfind("usage: noltpub", 0), 0u);
  }
}

TEST_F(SignAndVerifyTest, TheToolsExitCodeIsTheVerdict) {
  SignContent(kContent, {});
  const std::string verify = std::string(NOLTPUB_PATH) + " verify --store '" + pki_.rootBundle +
                             "' '" + Path("out.xml") + "' >/dev/null 2>&1";
  EXPECT_EQ(std::system(verify.c_str()), 0);
  WriteBytes(Path("out.xml"), ReadBytes(Path("out.xml")) + "x");
  const int status = std::system(verify.c_str());
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
}

}  // namespace
