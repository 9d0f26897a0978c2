#include "file_signer.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <cstdio>
#include <filesystem>
#include <vector>

#include "foundation/kv/hx_kv_list_map.h"
#include "foundation/kv/hx_stream.h"
#include "net/signing/base64_text.h"
#include "net/signing/openssl_handles.h"
#include "net/signing/signed_data.h"
#include "net/signing/signing_names.h"
#include "replacing_file.h"

namespace noltpub {

namespace {

namespace names = signing_names;

class InputFile {
 public:
  explicit InputFile(const std::string& path) : m_file(std::fopen(path.c_str(), "rb")) {}
  ~InputFile() {
    if (m_file != nullptr) std::fclose(m_file);
  }
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  std::FILE* get() const { return m_file; }
  bool Rewind() { return m_file != nullptr && std::fseek(m_file, 0, SEEK_SET) == 0; }

 private:
  std::FILE* m_file;
};

X509Ptr ReadCertificate(const std::string& path) {
  BioPtr in(BIO_new_file(path.c_str(), "rb"));
  if (!in) return nullptr;
  X509Ptr certificate(PEM_read_bio_X509(in.get(), nullptr, nullptr, nullptr));
  if (!certificate && BIO_reset(in.get()) == 0) {
    certificate.reset(d2i_X509_bio(in.get(), nullptr));
  }
  return certificate;
}

EvpPkeyPtr ReadKey(const std::string& path) {
  BioPtr in(BIO_new_file(path.c_str(), "rb"));
  return EvpPkeyPtr(in ? PEM_read_bio_PrivateKey(in.get(), nullptr, nullptr, nullptr) : nullptr);
}

// A detached SHA-256 signature with signed attributes over the header lines and the content.
std::string Signature(X509* certificate, EVP_PKEY* key, const HxKVList& credentials,
                      const ContentRule& rule, std::FILE* content) {
  constexpr int kFlags = PKCS7_DETACHED | PKCS7_BINARY | PKCS7_PARTIAL;
  Pkcs7Ptr p7(PKCS7_sign(nullptr, nullptr, nullptr, nullptr, kFlags));
  if (!p7 || PKCS7_sign_add_signer(p7.get(), certificate, key, EVP_sha256(), kFlags) == nullptr) {
    return std::string();
  }
  BioPtr digests(PKCS7_dataInit(p7.get(), nullptr));
  const std::string header = SignedHeaderText(credentials);
  uint64_t fed = 0;
  if (!digests ||
      BIO_write(digests.get(), header.data(), static_cast<int>(header.size())) !=
          static_cast<int>(header.size()) ||
      !FeedContent(content, rule, digests.get(), fed) ||
      PKCS7_dataFinal(p7.get(), digests.get()) != 1) {
    return std::string();
  }
  return EncodeBase64Der<PKCS7>(p7.get(), i2d_PKCS7);
}

// The header section, then the empty line, then the input copied unchanged.
bool WriteSignedFile(const HxKVList& credentials, std::FILE* content, const std::string& output) {
  HxKVListMap header;
  header.AddSection(names::kCredentials) = credentials;
  size_t total = 0;
  header.Write(nullptr, false, total);
  HxStream text;
  text.Reserve(total);
  header.Write(&text, false, total);
  ReplacingFile file(output);
  if (!file.Create() || !file.OpenStream() || !file.Write(std::string(text.Text()) + "\n")) {
    return false;
  }
  std::vector<char> block(64 * 1024);
  for (;;) {
    const size_t got = std::fread(block.data(), 1, block.size(), content);
    if (got == 0) break;
    if (!file.Write(block.data(), got)) return false;
  }
  using std::filesystem::perms;
  return std::ferror(content) == 0 && file.Commit(perms::owner_read | perms::owner_write |
                                                  perms::group_read | perms::others_read);
}

}  // namespace

bool SignFile(const std::string& certificatePath, const std::string& keyPath,
              const SignOptions& options, const std::string& input, const std::string& output,
              std::string& error) {
  X509Ptr certificate = ReadCertificate(certificatePath);
  EvpPkeyPtr key = ReadKey(keyPath);
  InputFile content(input);
  ERR_clear_error();
  if (!certificate) {
    error = "cannot read the certificate " + certificatePath;
  } else if (!key) {
    error = "cannot read the key " + keyPath;
  } else if (X509_check_private_key(certificate.get(), key.get()) != 1) {
    error = "the key does not belong to the certificate";
  } else if (content.get() == nullptr) {
    error = "cannot open " + input;
  } else if (uint64_t number = 0;
             options.sequence && !ParseHeaderNumber(*options.sequence, number)) {
    error = "the sequence must be a whole number from 0 to 4294967295: " + *options.sequence;
  } else if (uint64_t time = 0; options.expires && !ParseExpiryTime(*options.expires, time)) {
    error = "the expiry must be a UTC time written YYYY-MM-DDTHH:MM:SSZ: " + *options.expires;
  }
  ERR_clear_error();
  if (!error.empty()) return false;

  HxKVList credentials;
  credentials.Put(names::kCertificate, HxStr(EncodeBase64Der<X509>(certificate.get(), i2d_X509)));
  ContentRule rule;
  rule.ignoreWhitespace = options.ignoreWhitespace;
  if (options.ignoreWhitespace) credentials.Put(names::kMode, names::kIgnoreWhitespace);
  if (options.sequence) credentials.Put(names::kSequence, HxStr(*options.sequence));
  if (options.expires) credentials.Put(names::kExpires, HxStr(*options.expires));
  uint64_t length = 0;
  if (options.contentLength) {
    if (!FeedContent(content.get(), rule, nullptr, length) || length > UINT32_MAX) {
      error = "cannot count the content of " + input;
      return false;
    }
    credentials.PutUInt(names::kContentLength, static_cast<uint32_t>(length));
    rule.limit = length;
  }
  const std::string signature =
      content.Rewind() ? Signature(certificate.get(), key.get(), credentials, rule, content.get())
                       : std::string();
  ERR_clear_error();
  if (signature.empty()) {
    error = "cannot sign " + input;
    return false;
  }
  credentials.Put(names::kSignature, HxStr(signature));
  if (!content.Rewind() || !WriteSignedFile(credentials, content.get(), output)) {
    error = "cannot write " + output;
    return false;
  }
  return true;
}

}  // namespace noltpub
