#include "net/signing/certificate_store.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <climits>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <vector>

#include "foundation/context/directory_layout.h"
#include "net/signing/openssl_handles.h"
#include "platform/files.h"

namespace {

// A bundle file is a handful of certificates; anything larger is not one.
constexpr size_t kMaxBundleBytes = 1 << 20;

Pkcs7Ptr ParseBundle(std::span<const unsigned char> bundle) {
  if (bundle.empty() || bundle.size() > INT_MAX) return nullptr;
  const unsigned char* cursor = bundle.data();
  Pkcs7Ptr p7(d2i_PKCS7(nullptr, &cursor, static_cast<long>(bundle.size())));
  if (!p7) {
    BioPtr text(BIO_new_mem_buf(bundle.data(), static_cast<int>(bundle.size())));
    if (text) p7.reset(PEM_read_bio_PKCS7(text.get(), nullptr, nullptr, nullptr));
  }
  ERR_clear_error();
  return p7;
}

bool ReadSmallFile(const std::string& path, std::vector<unsigned char>& bytes) {
  uint64_t size = 0;
  if (!platform::GetFileSize(path, size) || size == 0 || size > kMaxBundleBytes) return false;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  bytes.resize(static_cast<size_t>(size));
  const bool complete = std::fread(bytes.data(), 1, bytes.size(), file) == bytes.size();
  std::fclose(file);
  return complete;
}

// `local` made into a full path with ".." resolved.
std::string FullPath(const std::string& local) {
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(local, error);
  return error ? local : absolute.lexically_normal().string();
}

bool IsFile(const std::string& path) {
  return platform::PathExists(path) && !platform::IsDirectory(path);
}

}  // namespace

X509_STORE* CreateStore() { return X509_STORE_new(); }

void FreeStore(X509_STORE* store) { X509_STORE_free(store); }

bool AddBundleCertificates(X509_STORE* store, std::span<const unsigned char> bundle) {
  if (store == nullptr) return false;
  Pkcs7Ptr p7 = ParseBundle(bundle);
  if (!p7 || !PKCS7_type_is_signed(p7.get()) || p7->d.sign == nullptr) return false;
  STACK_OF(X509)* certificates = p7->d.sign->cert;
  int added = 0;
  for (int i = 0; i < sk_X509_num(certificates); ++i) {
    // A certificate that the store holds already counts as added.
    if (X509_STORE_add_cert(store, sk_X509_value(certificates, i)) == 1) ++added;
  }
  ERR_clear_error();
  return added > 0;
}

bool AddResourceCertificates(X509_STORE* store, const ModuleResources* module,
                             std::string_view name, std::string_view type) {
  const ModuleResources& resources = module != nullptr ? *module : ThisModuleResources();
  std::span<const unsigned char> bundle;
  return resources.Find(name, type, bundle) && AddBundleCertificates(store, bundle);
}

bool AddFileCertificates(X509_STORE* store, std::string_view path) {
  std::vector<unsigned char> bundle;
  return ReadSmallFile(LocalPath(path), bundle) && AddBundleCertificates(store, bundle);
}

bool FindCredentialsFile(std::string_view fileName, HxStr& path) {
  for (const char* directoryName : {"DirRoot", "AppDataUser"}) {
    HxStr directory;
    if (!GetDirectory(directoryName, directory)) continue;
    const std::string beside = LocalPath(directory + "Credentials\\" + fileName);
    if (IsFile(beside)) {
      path = beside;
      return true;
    }
    const std::string above = FullPath(LocalPath(directory + "..\\Credentials\\" + fileName));
    if (IsFile(above)) {
      path = above;
      return true;
    }
  }
  return false;
}
