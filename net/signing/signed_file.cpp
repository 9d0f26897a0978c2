#include "net/signing/signed_file.h"

#include <openssl/err.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <cstdio>

#include "foundation/context/directory_layout.h"
#include "foundation/kv/hx_kv_list_map.h"
#include "foundation/kv/hx_stream.h"
#include "net/signing/base64_text.h"
#include "net/signing/openssl_handles.h"
#include "net/signing/signed_data.h"
#include "net/signing/signer_chain.h"
#include "net/signing/signing_names.h"

namespace {

namespace names = signing_names;

// A header holds two Base64 values and a few short ones; a file whose first empty line lies
// further out is not a signed file, and is not read into memory whole.
constexpr size_t kMaxHeaderBytes = 1 << 20;

class OpenFile {
 public:
  explicit OpenFile(const std::string& path) : m_file(std::fopen(path.c_str(), "rb")) {
    // Content is digested in small blocks; the stream reads the file in large ones.
    if (m_file != nullptr) std::setvbuf(m_file, nullptr, _IOFBF, 64 * 1024);
  }
  ~OpenFile() {
    if (m_file != nullptr) std::fclose(m_file);
  }
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;
  std::FILE* get() const { return m_file; }

 private:
  std::FILE* m_file;
};

// Byte offset where the header starts: 3 behind a UTF-8 byte-order mark, else 0.
long HeaderStart(std::FILE* file) {
  unsigned char mark[3] = {};
  const size_t got = std::fread(mark, 1, sizeof(mark), file);
  return got == 3 && mark[0] == 0xEF && mark[1] == 0xBB && mark[2] == 0xBF ? 3 : 0;
}

// Reads the header from the file's position up to and including its empty line.
bool ReadHeader(std::FILE* file, HxStream& header) {
  HeaderEndScanner scanner;
  char block[kSignedContentBlock];
  while (header.Size() < kMaxHeaderBytes) {
    const size_t got = std::fread(block, 1, sizeof(block), file);
    if (got == 0) return false;
    size_t length = got;
    const bool ended = scanner.Scan(std::string_view(block, got), length);
    header.Write(block, length);
    if (ended) return true;
  }
  return false;
}

Pkcs7Ptr DecodeSignature(const HxStr& text) {
  Pkcs7Ptr p7(DecodeBase64Der<PKCS7>(text, d2i_PKCS7, PKCS7_free));
  if (!p7 || !PKCS7_type_is_signed(p7.get()) || p7->d.sign == nullptr) return nullptr;
  return p7;
}

// Every signer info must verify over the digests in `digests` with the signer's key.
bool SignaturesMatch(BIO* digests, PKCS7* p7, X509* signer) {
  STACK_OF(PKCS7_SIGNER_INFO)* infos = PKCS7_get_signer_info(p7);
  if (sk_PKCS7_SIGNER_INFO_num(infos) <= 0) return false;
  for (int i = 0; i < sk_PKCS7_SIGNER_INFO_num(infos); ++i) {
    if (PKCS7_signatureVerify(digests, p7, sk_PKCS7_SIGNER_INFO_value(infos, i), signer) <= 0) {
      return false;
    }
  }
  return true;
}

VerifyOutcome Verify(const std::string& path, X509_STORE* store, uint32_t flags,
                     VerifyReport& report) {
  OpenFile file(path);
  if (file.get() == nullptr) return VerifyOutcome::kUnreadableFile;
  const long headerStart = HeaderStart(file.get());
  HxStream header;
  if (std::fseek(file.get(), headerStart, SEEK_SET) != 0 || !ReadHeader(file.get(), header)) {
    return VerifyOutcome::kNoHeaderEnd;
  }
  header.Seek(0);
  HxKVListMap sections;
  sections.Read(header);
  HxKVList* credentials = sections.GetSection(names::kCredentials);
  if (credentials == nullptr) return VerifyOutcome::kNoCredentials;

  HxStr signatureText;
  HxStr certificateText;
  HxStr mode;
  HxStr contentLength;
  credentials->Get(names::kSignature, signatureText);
  credentials->Get(names::kCertificate, certificateText);
  ContentRule rule;
  rule.ignoreWhitespace = (flags & kVerifyIgnoreWhitespaceByDefault) != 0;
  if (credentials->Get(names::kMode, mode)) rule.ignoreWhitespace = ModeIgnoresWhitespace(mode);
  if (credentials->Get(names::kContentLength, contentLength) &&
      !ParseContentLength(contentLength, rule.limit)) {
    return VerifyOutcome::kBadContentLength;
  }

  Pkcs7Ptr p7 = DecodeSignature(signatureText);
  if (!p7) return VerifyOutcome::kBadSignature;
  X509Ptr signer(DecodeBase64Der<X509>(certificateText, d2i_X509, X509_free));
  if (!signer) return VerifyOutcome::kBadCertificate;

  // The signature must cover the rebuilt signed data, whatever content it may carry itself.
  if (!PKCS7_get_detached(p7.get())) PKCS7_set_detached(p7.get(), 1);
  // The digests that the signature names, over a sink that drops the bytes.
  BioPtr digests(PKCS7_dataInit(p7.get(), nullptr));
  if (!digests) return VerifyOutcome::kBadSignature;
  const std::string signedHeader = SignedHeaderText(*credentials);
  uint64_t fed = 0;
  if (BIO_write(digests.get(), signedHeader.data(), static_cast<int>(signedHeader.size())) !=
          static_cast<int>(signedHeader.size()) ||
      std::fseek(file.get(), headerStart + static_cast<long>(header.Size()), SEEK_SET) != 0 ||
      !FeedContent(file.get(), rule, digests.get(), fed)) {
    return VerifyOutcome::kReadError;
  }
  if (!SignaturesMatch(digests.get(), p7.get(), signer.get())) {
    return VerifyOutcome::kSignatureMismatch;
  }
  if (!VerifySignerChain(store, signer.get(), p7->d.sign->cert, report)) {
    return VerifyOutcome::kUntrustedSigner;
  }
  credentials->erase(HxStr(names::kSignature));
  report.credentials = std::move(*credentials);
  return VerifyOutcome::kVerified;
}

}  // namespace

const char* OutcomeText(VerifyOutcome outcome) {
  switch (outcome) {
    case VerifyOutcome::kVerified:
      return "verified";
    case VerifyOutcome::kUnreadableFile:
      return "the file cannot be opened";
    case VerifyOutcome::kNoHeaderEnd:
      return "no empty line ends the header";
    case VerifyOutcome::kNoCredentials:
      return "the header has no Credentials section";
    case VerifyOutcome::kBadSignature:
      return "the signature cannot be decoded";
    case VerifyOutcome::kBadCertificate:
      return "the certificate cannot be decoded";
    case VerifyOutcome::kBadContentLength:
      return "the Content-Length is not a number below 2^32";
    case VerifyOutcome::kReadError:
      return "the content cannot be read";
    case VerifyOutcome::kSignatureMismatch:
      return "the signature does not match the file";
    case VerifyOutcome::kUntrustedSigner:
      return "the signer is not trusted";
  }
  return "unknown";
}

bool VerifySignedFile(std::string_view path, X509_STORE* store, uint32_t flags,
                      VerifyReport* report) {
  VerifyReport local;
  VerifyReport& result = report != nullptr ? *report : local;
  result.detail.Empty();
  result.credentials.clear();
  result.outcome = Verify(LocalPath(path), store, flags, result);
  ERR_clear_error();
  return result.outcome == VerifyOutcome::kVerified;
}
