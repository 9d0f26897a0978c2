// Signed files made with the openssl command line over the signed data as the format defines
// it: what verifies, and every change to header or content that must not.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "net/signing/base64_text.h"
#include "net/signing/certificate_store.h"
#include "net/signing/signed_file.h"
#include "net/signing/signing_names.h"
#include "platform/clock.h"
#include "platform/timefmt.h"
#include "scoped_sandbox.h"
#include "test_pki.h"

namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;
constexpr auto kOk = VerifyOutcome::kVerified;
constexpr auto kMismatch = VerifyOutcome::kSignatureMismatch;

const std::string kManifest =
    "<?xml version=\"1.0\"?>\n<manifest>\n  <file name=\"a.txt\" md5=\"00\"/>\n</manifest>\n";
// The manifest's significant bytes, spelled out.
const std::string kReducedManifest =
    "<?xmlversion=\"1.0\"?><manifest><filename=\"a.txt\"md5=\"00\"/></manifest>";

std::string WithCrlf(const std::string& text) {
  std::string result;
  for (const char c : text) result += c == '\n' ? std::string("\r\n") : std::string(1, c);
  return result;
}

// The Base64 text with a byte after the DER it holds.
std::string WithTrailingByte(const std::string& base64) {
  std::vector<unsigned char> der;
  EXPECT_TRUE(DecodeBase64(base64, der));
  der.push_back('x');
  return EncodeBase64(der);
}

class SignedFileTest : public ::testing::Test {
 protected:
  SignedFileTest()
      : pki_(SharedPki()), store_(CreateStore()), cert_(pki_.signer.certificateBase64) {
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
  // A file whose header holds a signature over `signedData`, then `pairs`, then `content`.
  std::string SignedFile(const Pairs& pairs, const std::string& signedData,
                         const std::string& content) {
    Pairs all = pairs;
    all.insert(all.begin(), {"Signature", OpensslSignature(signedData, pki_.signer)});
    return SignedFileBytes(all, content);
  }
  struct Case {
    std::string what;
    std::string bytes;
    VerifyOutcome expected;
    uint32_t flags = 0;
  };
  void Expect(const std::vector<Case>& cases) {
    for (const Case& test : cases) {
      EXPECT_EQ(Verify(test.bytes, test.flags), test.expected)
          << test.what << ": " << OutcomeText(report_.outcome) << " " << report_.detail.c_str();
    }
  }

  platform::testing::ScopedSandbox sandbox_;
  const TestPki& pki_;
  X509_STORE* store_;
  const std::string cert_;
  VerifyReport report_;
};

TEST_F(SignedFileTest, TheHeaderItsEndAndItsEncodedValues) {
  const std::string signedData = "Certificate=" + cert_ + "\r\n" + kManifest;
  const std::string plain = PlainSignedFile(pki_.signer, kManifest);
  const std::string signature = OpensslSignature(signedData, pki_.signer);
  const std::string lines = "[Credentials]\nSignature=" + signature + "\nCertificate=" + cert_;
  auto file = [&](const std::string& sig, const std::string& cert = "") {
    return SignedFileBytes({{"Signature", sig}, {"Certificate", cert.empty() ? cert_ : cert}},
                           kManifest);
  };
  const std::string longCert = WithTrailingByte(cert_);
  Expect({
      {"plain", plain, kOk},
      {"data inside the signature", file(OpensslSignature(signedData, pki_.signer, "-nodetach")),
       kOk},
      {"no certificate inside", file(OpensslSignature(signedData, pki_.signer, "-nocerts")), kOk},
      {"byte-order mark", "\xEF\xBB\xBF" + plain, kOk},
      {"CRs inside the header end", lines + "\n\r\r\n" + kManifest, kOk},
      {"a second empty line is content", lines + "\n\n\n" + kManifest, kMismatch},
      {"one byte more", plain + "x", kMismatch},
      {"no empty line", lines + "\n" + kManifest, VerifyOutcome::kNoHeaderEnd},
      {"empty file", "", VerifyOutcome::kNoHeaderEnd},
      {"other section", "[Credential]" + lines.substr(13) + "\n\n", VerifyOutcome::kNoCredentials},
      {"signature not PKCS#7", file("bm90IGEgc2lnbmF0dXJl"), VerifyOutcome::kBadSignature},
      {"certificate not Base64", file(signature, "%%%"), VerifyOutcome::kBadCertificate},
      {"a byte after the signature's DER", file(WithTrailingByte(signature)),
       VerifyOutcome::kBadSignature},
      {"a byte after the certificate's DER",
       SignedFile({{"Certificate", longCert}}, "Certificate=" + longCert + "\r\n" + kManifest,
                  kManifest),
       VerifyOutcome::kBadCertificate},
      // Signed over four content bytes, with a length that a 32-bit read would take as 4.
      {"Content-Length beyond 32 bits",
       SignedFile({{"Certificate", cert_}, {"Content-Length", "4294967300"}},
                  "Certificate=" + cert_ + "\r\nContent-Length=4294967300\r\n<?xm", kManifest),
       VerifyOutcome::kBadContentLength},
  });
  EXPECT_FALSE(VerifySignedFile(sandbox_.Root() + "/missing.xml", store_, 0, &report_));
  EXPECT_EQ(report_.outcome, VerifyOutcome::kUnreadableFile);
}

TEST_F(SignedFileTest, EveryHeaderPairIsSignedAndTheContentUpToItsLengthWithOrWithoutWhitespace) {
  const std::string content = "<a>\n  <b x=\"1\"/>\n</a>\n";
  const Pairs header = {
      {"Publisher", "Acme Ltd"},
      {"Mode", "Ignore-Whitespace"},
      {"Signature", OpensslSignature("Certificate=" + cert_ +
                                         "\r\nContent-Length=11\r\nMode=Ignore-Whitespace\r\n"
                                         "Publisher=Acme Ltd\r\n<a><bx=\"1\"/",  // 11 of 16
                                     pki_.signer)},
      {"Content-Length", "11"},
      {"Certificate", cert_}};
  auto changed = [&](size_t index, const std::string& key, const std::string& value) {
    Pairs pairs = header;
    pairs.resize(std::max(pairs.size(), index + 1));
    pairs[index] = {key, value};
    return SignedFileBytes(pairs, content);
  };
  std::string garbage = content + std::string("\0\xff garbage \x01", 13);
  garbage[garbage.find("/>") + 1] = '?';  // the twelfth significant byte
  std::string inside = content;
  inside[inside.find('1')] = '2';
  // "Ignore-Whitespace" from "Mode", or from the flag when "Mode" is absent.
  const std::string mode = SignedFile(
      {{"Certificate", cert_}, {"Mode", " Binary | ignore-WHITESPACE "}},
      // The reader drops the value's trailing blank, so the signed line has none.
      "Certificate=" + cert_ + "\r\nMode= Binary | ignore-WHITESPACE\r\n" + kReducedManifest,
      kManifest);
  const std::string reduced = SignedFile(
      {{"Certificate", cert_}}, "Certificate=" + cert_ + "\r\n" + kReducedManifest, kManifest);
  const std::string binary =
      SignedFile({{"Certificate", cert_}, {"Mode", "Binary"}},
                 "Certificate=" + cert_ + "\r\nMode=Binary\r\n" + kManifest, kManifest);
  constexpr uint32_t kDefault = kVerifyIgnoreWhitespaceByDefault;
  Expect({
      {"as signed", SignedFileBytes(header, content), kOk},
      {"reversed, CRLF", SignedFileBytes(Pairs(header.rbegin(), header.rend()), content, "\r\n"),
       kOk},
      {"anything after the length", SignedFileBytes(header, garbage), kOk},
      {"a signed byte", SignedFileBytes(header, inside), kMismatch},
      {"content short of the length", SignedFileBytes(header, "<a>\n  <b x="), kMismatch},
      {"publisher", changed(0, "Publisher", "Acme Ltd."), kMismatch},
      {"key spelling", changed(0, "publisher", "Acme Ltd"), kMismatch},
      {"changed mode", changed(1, "Mode", "Ignore-Whitespace|Strict"), kMismatch},
      {"length", changed(3, "Content-Length", "10"), kMismatch},
      {"certificate", changed(4, "Certificate", pki_.stranger.certificateBase64), kMismatch},
      {"extra key", changed(5, "Extra", "1"), kMismatch},
      {"mode", mode, kOk},
      {"mode, CRLF", WithCrlf(mode), kOk},
      {"no mode, no flag", reduced, kMismatch},
      {"no mode, flag, CRLF", WithCrlf(reduced), kOk, kDefault},
      {"mode without the option, flag", binary, kOk, kDefault},
      {"mode without the option, flag, CRLF", WithCrlf(binary), kMismatch, kDefault},
  });
}

TEST_F(SignedFileTest, AnyChangedContentByteBreaksTheSignatureAcrossBlocks) {
  std::string content;
  for (int i = 0; content.size() < 300000; ++i) content += "<n i=\"" + std::to_string(i) + "\"/>\n";
  const std::string file = PlainSignedFile(pki_.signer, content);
  EXPECT_EQ(Verify(file), kOk);
  for (const size_t back : {size_t{1}, size_t{150001}, content.size()}) {
    std::string changed = file;
    changed[changed.size() - back] ^= 0x01;
    EXPECT_EQ(Verify(changed), kMismatch) << back;
  }
}

TEST_F(SignedFileTest, OnlyASignerThatChainsToTheStoreAtTheClocksTimeIsTrusted) {
  const std::string strangers = PlainSignedFile(pki_.stranger, kManifest);
  EXPECT_EQ(Verify(strangers), VerifyOutcome::kUntrustedSigner);
  EXPECT_NE(std::string(report_.detail).find("Stranger Signer"), std::string::npos);

  const std::string file = PlainSignedFile(pki_.signer, kManifest);
  const uint64_t day = 24ULL * 3600 * platform::kFileTimeTicksPerSecond;
  platform::DrivenClock clock(platform::FileTimeNow() + 400 * day);
  platform::InstallClock(&clock);
  EXPECT_EQ(Verify(file), VerifyOutcome::kUntrustedSigner);
  EXPECT_NE(std::string(report_.detail).find("expired"), std::string::npos);
  clock.SetFileTime(platform::FileTimeNow() - 401 * day);
  EXPECT_EQ(Verify(file), VerifyOutcome::kUntrustedSigner);
  platform::InstallClock(nullptr);

  // Trusting the stranger's root as well makes it verify; an empty store trusts nothing.
  ASSERT_TRUE(RunCommand("openssl crl2pkcs7 -nocrl -certfile '" + pki_.directory +
                         "/other.pem' -outform DER -out '" + sandbox_.Root() + "/other.p7b'"));
  ASSERT_TRUE(AddFileCertificates(store_, sandbox_.Root() + "/other.p7b"));
  EXPECT_EQ(Verify(strangers), kOk);
  FreeStore(store_);
  store_ = CreateStore();
  EXPECT_EQ(Verify(file), VerifyOutcome::kUntrustedSigner);
}

}  // namespace
