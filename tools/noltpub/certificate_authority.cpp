#include "certificate_authority.h"

#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/pkcs7.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>
#include <openssl/x509v3.h>

#include <ctime>
#include <filesystem>
#include <system_error>

#include "net/signing/openssl_handles.h"
#include "platform/timefmt.h"
#include "replacing_file.h"

namespace noltpub {

namespace {

namespace fs = std::filesystem;

struct Identity {
  EvpPkeyPtr key;
  X509Ptr certificate;
};

time_t ClockTime() {
  return static_cast<time_t>((platform::FileTimeNow() - platform::kFileTimeUnixEpoch) /
                             platform::kFileTimeTicksPerSecond);
}

bool AddExtension(X509* certificate, X509* issuer, int nid, const char* value) {
  X509V3_CTX context;
  X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
  X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
  if (extension == nullptr) return false;
  const bool added = X509_add_ext(certificate, extension, -1) == 1;
  X509_EXTENSION_free(extension);
  return added;
}

bool RandomSerial(X509* certificate) {
  unsigned char bytes[16];
  if (RAND_bytes(bytes, sizeof(bytes)) != 1) return false;
  bytes[0] &= 0x7F;  // positive
  bytes[0] |= 0x40;  // and of full length
  BIGNUM* number = BN_bin2bn(bytes, sizeof(bytes), nullptr);
  const bool set = number != nullptr &&
                   BN_to_ASN1_INTEGER(number, X509_get_serialNumber(certificate)) != nullptr;
  BN_free(number);
  return set;
}

// A certificate for `subjectName` with a new key, signed by `issuer` (null: self-signed).
bool Issue(const std::string& subjectName, int keyBits, long days, const Identity* issuer,
           Identity& made) {
  made.key.reset(EVP_RSA_gen(static_cast<unsigned>(keyBits)));
  made.certificate.reset(X509_new());
  X509* certificate = made.certificate.get();
  if (!made.key || !certificate || X509_set_version(certificate, 2) != 1 ||
      !RandomSerial(certificate)) {
    return false;
  }
  time_t now = ClockTime();
  X509_NAME* subject = X509_get_subject_name(certificate);
  if (X509_time_adj_ex(X509_getm_notBefore(certificate), 0, 0, &now) == nullptr ||
      X509_time_adj_ex(X509_getm_notAfter(certificate), static_cast<int>(days), 0, &now) ==
          nullptr ||
      X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_UTF8,
                                 reinterpret_cast<const unsigned char*>(subjectName.c_str()), -1,
                                 -1, 0) != 1 ||
      X509_set_pubkey(certificate, made.key.get()) != 1) {
    return false;
  }
  X509* issuerCertificate = issuer != nullptr ? issuer->certificate.get() : certificate;
  EVP_PKEY* issuerKey = issuer != nullptr ? issuer->key.get() : made.key.get();
  if (X509_set_issuer_name(certificate, X509_get_subject_name(issuerCertificate)) != 1 ||
      !AddExtension(certificate, issuerCertificate, NID_subject_key_identifier, "hash") ||
      !AddExtension(certificate, issuerCertificate, NID_authority_key_identifier, "keyid:always")) {
    return false;
  }
  const bool isRoot = issuer == nullptr;
  return AddExtension(certificate, issuerCertificate, NID_basic_constraints,
                      isRoot ? "critical,CA:TRUE" : "critical,CA:FALSE") &&
         AddExtension(certificate, issuerCertificate, NID_key_usage,
                      isRoot ? "critical,keyCertSign,cRLSign" : "critical,digitalSignature") &&
         X509_sign(certificate, issuerKey, EVP_sha256()) > 0;
}

// Writes what `write` puts into a memory BIO to `path`, through a temporary file.
template <typename Writer>
bool WriteFile(const fs::path& path, fs::perms permissions, Writer write) {
  BioPtr memory(BIO_new(BIO_s_mem()));
  if (!memory || !write(memory.get())) return false;
  char* data = nullptr;
  const long size = BIO_get_mem_data(memory.get(), &data);
  ReplacingFile file(path.string());
  return file.Create() && file.OpenStream() && file.Write(data, static_cast<size_t>(size)) &&
         file.Commit(permissions);
}

constexpr fs::perms kOwnerOnly = fs::perms::owner_read | fs::perms::owner_write;
constexpr fs::perms kReadable = kOwnerOnly | fs::perms::group_read | fs::perms::others_read;

bool WriteKey(const fs::path& path, EVP_PKEY* key) {
  return WriteFile(path, kOwnerOnly, [key](BIO* out) {
    return PEM_write_bio_PrivateKey(out, key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
  });
}

bool WriteCertificate(const fs::path& path, X509* certificate) {
  return WriteFile(path, kReadable,
                   [certificate](BIO* out) { return PEM_write_bio_X509(out, certificate) == 1; });
}

// A certificates-only PKCS#7 bundle holding the root, in DER.
bool WriteBundle(const fs::path& path, X509* root) {
  Pkcs7Ptr bundle(PKCS7_new());
  if (!bundle || PKCS7_set_type(bundle.get(), NID_pkcs7_signed) != 1 ||
      PKCS7_content_new(bundle.get(), NID_pkcs7_data) != 1 ||
      PKCS7_add_certificate(bundle.get(), root) != 1) {
    return false;
  }
  return WriteFile(path, kReadable,
                   [&bundle](BIO* out) { return i2d_PKCS7_bio(out, bundle.get()) == 1; });
}

}  // namespace

bool InitCertificateAuthority(const std::string& directory, const std::string& name,
                              std::string& error) {
  const fs::path dir(directory);
  for (const char* file : {kRootKeyFile, kRootCertificateFile, kSigningKeyFile,
                           kSigningCertificateFile, kRootBundleFile}) {
    std::error_code ignored;
    if (fs::exists(dir / file, ignored)) {
      error = (dir / file).string() + " exists; a certificate authority is not made twice";
      return false;
    }
  }
  std::error_code made;
  fs::create_directories(dir, made);
  Identity root;
  Identity signer;
  if (!Issue(name + " Root", 3072, 20 * 365 + 5, nullptr, root) ||
      !Issue(name + " Signing", 2048, 5 * 365 + 1, &root, signer)) {
    error = "the certificates could not be made";
  } else if (!WriteKey(dir / kRootKeyFile, root.key.get()) ||
             !WriteCertificate(dir / kRootCertificateFile, root.certificate.get()) ||
             !WriteKey(dir / kSigningKeyFile, signer.key.get()) ||
             !WriteCertificate(dir / kSigningCertificateFile, signer.certificate.get()) ||
             !WriteBundle(dir / kRootBundleFile, root.certificate.get())) {
    error = "cannot write into " + directory;
  }
  ERR_clear_error();
  return error.empty();
}

}  // namespace noltpub
