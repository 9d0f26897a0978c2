// Signed files made with the openssl command line over the signed data as the format defines
// it: what verifies, and every change to header or content that must not.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "net/signing/certificate_store.h"
#include "net/signing/signed_file.h"
#include "net/signing/signing_names.h"
#include "platform/clock.h"
#include "platform/timefmt.h"
#include "scoped_sandbox.h"
#include "test_pki.h"

namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

class SignedFileTest : public ::testing::Test {
 protected:
  SignedFileTest() : pki_(SharedPki()), store_(CreateStore()) {
    EXPECT_TRUE(AddFileCertificates(store_, pki_.rootBundle));
  }
  ~SignedFileTest() override { FreeStore(store_); }

  // Writes the bytes to a file and verifies it; the outcome, with the report kept.
  VerifyOutcome Verify(const std::string& bytes, uint32_t flags = 0) {
    const std::string path = sandbox_.Root() + "/manifest.xml";
    WriteBytes(path, bytes);
    VerifySignedFile(path, store_, flags, &report_);
    return report_.outcome;
  }

  const std::string& Certificate() const { return pki_.signer.certificateBase64; }
  std::string Sign(const std::string& signedData) {
    return OpensslSignature(signedData, pki_.signer);
  }
  // A file whose header holds `pairs` and a signature over `signedData`.
  std::string SignedFile(const Pairs& pairs, const std::string& signedData,
                         const std::string& content) {
    Pairs all = pairs;
    all.insert(all.begin(), {"Signature", Sign(signedData)});
    return SignedFileBytes(all, content);
  }

  platform::testing::ScopedSandbox sandbox_;
  const TestPki& pki_;
  X509_STORE* store_;
  VerifyReport report_;
};

const std::string kManifest =
    "<?xml version=\"1.0\"?>\n<manifest>\n  <file name=\"a.txt\" md5=\"00\"/>\n</manifest>\n";

TEST_F(SignedFileTest, OpensslSignatureOverCertificateLineAndContentVerifies) {
  const std::string signedData = "Certificate=" + Certificate() + "\r\n" + kManifest;
  EXPECT_EQ(Verify(SignedFile({{"Certificate", Certificate()}}, signedData, kManifest)),
            VerifyOutcome::kVerified);
  // A signature that carries the signed data inside it, and one without the signer's
  // certificate: the header's certificate and the rebuilt data are what count.
  for (const char* options : {"-nodetach", "-nocerts"}) {
    const std::string signature = OpensslSignature(signedData, pki_.signer, options);
    EXPECT_EQ(Verify(SignedFileBytes({{"Signature", signature}, {"Certificate", Certificate()}},
                                     kManifest)),
              VerifyOutcome::kVerified)
        << options;
  }
}

// Every key of the header, an extra one included, in key order with CRLF; the content reduced
// to its significant bytes and cut at "Content-Length".
class FullHeaderTest : public SignedFileTest {
 protected:
  static constexpr const char* kContent = "<a>\n  <b x=\"1\"/>\n</a>\n";
  static constexpr const char* kSignedContent = "<a><bx=\"1\"/";  // 11 of its 16 significant bytes

  FullHeaderTest()
      : signature_(Sign("Certificate=" + Certificate() + "\r\nContent-Length=11\r\n" +
                        "Mode=Ignore-Whitespace\r\nPublisher=Acme Ltd\r\n" + kSignedContent)) {}

  Pairs Header() const {
    return {{"Publisher", "Acme Ltd"},
            {"Mode", "Ignore-Whitespace"},
            {"Signature", signature_},
            {"Content-Length", "11"},
            {"Certificate", Certificate()}};
  }
  static void Replace(Pairs& pairs, const std::string& key, const std::string& value) {
    for (auto& pair : pairs) {
      if (pair.first == key) pair.second = value;
    }
  }

  std::string signature_;
};

TEST_F(FullHeaderTest, HeaderLinesInAnyOrderAndAnyLineEndVerify) {
  EXPECT_EQ(Verify(SignedFileBytes(Header(), kContent)), VerifyOutcome::kVerified);
  const Pairs header = Header();
  const Pairs reversed(header.rbegin(), header.rend());
  EXPECT_EQ(Verify(SignedFileBytes(reversed, kContent, "\r\n")), VerifyOutcome::kVerified);
  // A byte-order mark in front of the header.
  EXPECT_EQ(Verify("\xEF\xBB\xBF" + SignedFileBytes(Header(), kContent)), VerifyOutcome::kVerified);
}

TEST_F(FullHeaderTest, AnyChangedHeaderValueBreaksTheSignature) {
  const std::vector<std::pair<std::string, std::string>> changes = {
      {"Publisher", "Acme Ltd."},
      {"Content-Length", "10"},
      {"Mode", "Ignore-Whitespace|Strict"},
      {"Certificate", pki_.stranger.certificateBase64},
  };
  for (const auto& [key, value] : changes) {
    Pairs pairs = Header();
    Replace(pairs, key, value);
    EXPECT_EQ(Verify(SignedFileBytes(pairs, kContent)), VerifyOutcome::kSignatureMismatch) << key;
  }
  Pairs added = Header();
  added.push_back({"Extra", "1"});
  EXPECT_EQ(Verify(SignedFileBytes(added, kContent)), VerifyOutcome::kSignatureMismatch);
  // The key's spelling is signed too.
  Pairs renamed = Header();
  renamed[0].first = "publisher";
  EXPECT_EQ(Verify(SignedFileBytes(renamed, kContent)), VerifyOutcome::kSignatureMismatch);
}

TEST_F(FullHeaderTest, BytesBeyondTheContentLengthMayBeAnything) {
  std::string content = std::string(kContent) + std::string("\0\xff garbage \x01", 13);
  EXPECT_EQ(Verify(SignedFileBytes(Header(), content)), VerifyOutcome::kVerified);
  content[content.find("/>") + 1] = '?';  // the twelfth significant byte
  EXPECT_EQ(Verify(SignedFileBytes(Header(), content)), VerifyOutcome::kVerified);
  content[content.find("1")] = '2';  // inside the signed bytes
  EXPECT_EQ(Verify(SignedFileBytes(Header(), content)), VerifyOutcome::kSignatureMismatch);
  // Content that stops short of the length does not verify.
  EXPECT_EQ(Verify(SignedFileBytes(Header(), "<a>\n  <b x=")), VerifyOutcome::kSignatureMismatch);
}

TEST_F(SignedFileTest, AnyChangedContentByteBreaksTheSignature) {
  const std::string signedData = "Certificate=" + Certificate() + "\r\n" + kManifest;
  const std::string file = SignedFile({{"Certificate", Certificate()}}, signedData, kManifest);
  const size_t contentStart = file.size() - kManifest.size();
  for (size_t i = contentStart; i < file.size(); ++i) {
    std::string changed = file;
    changed[i] = static_cast<char>(changed[i] ^ 0x01);
    EXPECT_EQ(Verify(changed), VerifyOutcome::kSignatureMismatch) << "byte " << i - contentStart;
  }
  EXPECT_EQ(Verify(file + "x"), VerifyOutcome::kSignatureMismatch);
  EXPECT_EQ(Verify(file.substr(0, file.size() - 1)), VerifyOutcome::kSignatureMismatch);
}

std::string WithCrlf(const std::string& text) {
  std::string result;
  for (const char c : text) result += c == '\n' ? std::string("\r\n") : std::string(1, c);
  return result;
}

// The manifest's significant bytes, spelled out.
const std::string kReducedManifest =
    "<?xmlversion=\"1.0\"?><manifest><filename=\"a.txt\"md5=\"00\"/></manifest>";

TEST_F(SignedFileTest, IgnoreWhitespaceAcceptsLineEndsTurnedIntoCrlf) {
  const Pairs pairs = {{"Certificate", Certificate()}, {"Mode", " Binary | ignore-WHITESPACE "}};
  const std::string signedData =
      // The reader drops the value's trailing blank, so the signed line has none.
      "Certificate=" + Certificate() + "\r\nMode= Binary | ignore-WHITESPACE\r\n" +
      kReducedManifest;
  const std::string file = SignedFile(pairs, signedData, kManifest);
  EXPECT_EQ(Verify(file), VerifyOutcome::kVerified);
  EXPECT_EQ(Verify(WithCrlf(file)), VerifyOutcome::kVerified);
}

TEST_F(SignedFileTest, WithoutIgnoreWhitespaceCrlfLineEndsFail) {
  const std::string signedData = "Certificate=" + Certificate() + "\r\n" + kManifest;
  const std::string file = SignedFile({{"Certificate", Certificate()}}, signedData, kManifest);
  const size_t contentStart = file.size() - kManifest.size();
  EXPECT_EQ(Verify(file.substr(0, contentStart) + WithCrlf(kManifest)),
            VerifyOutcome::kSignatureMismatch);
}

TEST_F(SignedFileTest, FlagMakesIgnoreWhitespaceTheDefaultOnlyWithoutMode) {
  const std::string reduced =
      SignedFile({{"Certificate", Certificate()}},
                 "Certificate=" + Certificate() + "\r\n" + kReducedManifest, kManifest);
  EXPECT_EQ(Verify(reduced), VerifyOutcome::kSignatureMismatch);
  EXPECT_EQ(Verify(WithCrlf(reduced), kVerifyIgnoreWhitespaceByDefault), VerifyOutcome::kVerified);

  // A "Mode" without the option clears the default.
  const std::string binary =
      SignedFile({{"Certificate", Certificate()}, {"Mode", "Binary"}},
                 "Certificate=" + Certificate() + "\r\nMode=Binary\r\n" + kManifest, kManifest);
  EXPECT_EQ(Verify(binary, kVerifyIgnoreWhitespaceByDefault), VerifyOutcome::kVerified);
  EXPECT_EQ(Verify(WithCrlf(binary), kVerifyIgnoreWhitespaceByDefault),
            VerifyOutcome::kSignatureMismatch);
}

TEST_F(SignedFileTest, TheHeaderEndsAtTheFirstEmptyLineWhateverItsCarriageReturns) {
  const std::string signature = Sign("Certificate=" + Certificate() + "\r\n" + kManifest);
  const std::string header =
      "[Credentials]\nSignature=" + signature + "\nCertificate=" + Certificate();
  EXPECT_EQ(Verify(header + "\r\n\r\n" + kManifest), VerifyOutcome::kVerified);
  EXPECT_EQ(Verify(header + "\n\r\r\n" + kManifest), VerifyOutcome::kVerified);
  // A second empty line belongs to the content.
  EXPECT_EQ(Verify(header + "\n\n\n" + kManifest), VerifyOutcome::kSignatureMismatch);
}

TEST_F(SignedFileTest, FilesWithoutEmptyLineOrCredentialsFail) {
  const std::string signature = Sign("Certificate=" + Certificate() + "\r\n" + kManifest);
  const std::string lines = "Signature=" + signature + "\nCertificate=" + Certificate() + "\n";
  EXPECT_EQ(Verify("[Credentials]\n" + lines + kManifest), VerifyOutcome::kNoHeaderEnd);
  EXPECT_EQ(Verify("\xEF\xBB\xBF[Credentials]\n" + lines + "<a/>"), VerifyOutcome::kNoHeaderEnd);
  EXPECT_EQ(Verify("[Credential]\n" + lines + "\n" + kManifest), VerifyOutcome::kNoCredentials);
  EXPECT_EQ(Verify(lines + "\n" + kManifest), VerifyOutcome::kNoCredentials);
  EXPECT_EQ(Verify(""), VerifyOutcome::kNoHeaderEnd);
  EXPECT_FALSE(VerifySignedFile(sandbox_.Root() + "/missing.xml", store_, 0, &report_));
  EXPECT_EQ(report_.outcome, VerifyOutcome::kUnreadableFile);
}

TEST_F(SignedFileTest, UndecodableSignatureOrCertificateFails) {
  const std::string signature = Sign("Certificate=" + Certificate() + "\r\n" + kManifest);
  EXPECT_EQ(
      Verify(SignedFileBytes(
          {{"Signature", "bm90IGEgc2lnbmF0dXJl"}, {"Certificate", Certificate()}}, kManifest)),
      VerifyOutcome::kBadSignature);
  EXPECT_EQ(Verify(SignedFileBytes({{"Certificate", Certificate()}}, kManifest)),
            VerifyOutcome::kBadSignature);
  EXPECT_EQ(Verify(SignedFileBytes({{"Signature", signature}, {"Certificate", "%%%"}}, kManifest)),
            VerifyOutcome::kBadCertificate);
}

TEST_F(SignedFileTest, SignerThatDoesNotChainToTheStoreFails) {
  const std::string& stranger = pki_.stranger.certificateBase64;
  const std::string signedData = "Certificate=" + stranger + "\r\n" + kManifest;
  const std::string file = SignedFileBytes(
      {{"Signature", OpensslSignature(signedData, pki_.stranger)}, {"Certificate", stranger}},
      kManifest);
  EXPECT_EQ(Verify(file), VerifyOutcome::kUntrustedSigner);
  EXPECT_NE(std::string(report_.detail).find("Stranger Signer"), std::string::npos)
      << report_.detail.c_str();

  // Trusting the stranger's root as well makes it verify.
  ASSERT_TRUE(RunCommand("openssl crl2pkcs7 -nocrl -certfile '" + pki_.directory +
                         "/other.pem' -outform DER -out '" + sandbox_.Root() + "/other.p7b'"));
  ASSERT_TRUE(AddFileCertificates(store_, sandbox_.Root() + "/other.p7b"));
  EXPECT_EQ(Verify(file), VerifyOutcome::kVerified);
}

TEST_F(SignedFileTest, SignerOutsideItsValidityAtTheClocksTimeFails) {
  const std::string signedData = "Certificate=" + Certificate() + "\r\n" + kManifest;
  const std::string file = SignedFile({{"Certificate", Certificate()}}, signedData, kManifest);
  const uint64_t day = 24ULL * 3600 * platform::kFileTimeTicksPerSecond;
  platform::DrivenClock clock(platform::FileTimeNow() + 400 * day);
  platform::InstallClock(&clock);
  EXPECT_EQ(Verify(file), VerifyOutcome::kUntrustedSigner);
  EXPECT_NE(std::string(report_.detail).find("expired"), std::string::npos)
      << report_.detail.c_str();
  clock.SetFileTime(platform::FileTimeNow() - 401 * day);
  EXPECT_EQ(Verify(file), VerifyOutcome::kUntrustedSigner);
  platform::InstallClock(nullptr);
  EXPECT_EQ(Verify(file), VerifyOutcome::kVerified);
}

TEST_F(SignedFileTest, AnEmptyStoreTrustsNothing) {
  FreeStore(store_);
  store_ = CreateStore();
  const std::string signedData = "Certificate=" + Certificate() + "\r\n" + kManifest;
  EXPECT_EQ(Verify(SignedFile({{"Certificate", Certificate()}}, signedData, kManifest)),
            VerifyOutcome::kUntrustedSigner);
}

TEST_F(SignedFileTest, LargeContentAcrossManyBlocksVerifies) {
  std::string content;
  for (int i = 0; content.size() < 300000; ++i)
    content += "<line n=\"" + std::to_string(i) + "\"/>\n";
  const std::string signedData = "Certificate=" + Certificate() + "\r\n" + content;
  const std::string file = SignedFile({{"Certificate", Certificate()}}, signedData, content);
  EXPECT_EQ(Verify(file), VerifyOutcome::kVerified);
  std::string changed = file;
  changed[changed.size() - 150001] ^= 0x20;
  EXPECT_EQ(Verify(changed), VerifyOutcome::kSignatureMismatch);
}

}  // namespace
