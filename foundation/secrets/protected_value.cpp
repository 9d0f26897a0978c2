#include "foundation/secrets/protected_value.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <array>
#include <memory>
#include <vector>

#include "foundation/log/hx_trace.h"
#include "foundation/strings/hx_str.h"
#include "platform/errors.h"
#include "platform/locations.h"
#include "platform/private_file.h"
#include "platform/registry.h"
#include "platform/sandbox.h"

namespace secrets {
namespace {

constexpr std::string_view kFormPrefix = "tsp";
constexpr std::string_view kVersion1 = "tsp1:";
constexpr size_t kKeySize = 32;
constexpr size_t kNonceSize = 12;
constexpr size_t kTagSize = 16;
constexpr const char* kKeyFileName = "/protected-values.key";

// Bytes that are wiped when they go out of scope.
template <typename Bytes>
struct Wiped {
  Bytes bytes{};
  Wiped() = default;
  Wiped(const Wiped&) = delete;
  Wiped& operator=(const Wiped&) = delete;
  ~Wiped() {
    if (!bytes.empty()) OPENSSL_cleanse(bytes.data(), bytes.size());
  }
};
using Key = Wiped<std::array<unsigned char, kKeySize>>;

// The associated data: the value opens only under the scope that made it.
std::string_view ScopeName(SecretScope scope) {
  return scope == SecretScope::kMachine ? "tidesync protected value: machine"
                                        : "tidesync protected value: user";
}

SecretStatus ReadKey(SecretScope scope, Key& key) {
  Wiped<std::string> file;
  if (!platform::ReadPrivateFile(KeyFilePath(scope), kKeySize, file.bytes)) {
    return platform::LastError() == platform::kErrorFileNotFound ? SecretStatus::kNoKey
                                                                 : SecretStatus::kKeyUnreadable;
  }
  if (file.bytes.size() != kKeySize) return SecretStatus::kKeyUnreadable;
  std::copy(file.bytes.begin(), file.bytes.end(), key.bytes.begin());
  return SecretStatus::kOk;
}

// The scope's key, made when it has none. Of processes racing to make it, the losers read the
// winner's key.
SecretStatus ReadOrMakeKey(SecretScope scope, Key& key) {
  SecretStatus status = ReadKey(scope, key);
  if (status != SecretStatus::kNoKey) return status;
  Wiped<std::string> fresh;
  fresh.bytes.resize(kKeySize);
  if (RAND_bytes(reinterpret_cast<unsigned char*>(fresh.bytes.data()), kKeySize) != 1) {
    return SecretStatus::kCipherFailed;
  }
  if (!platform::CreatePrivateFile(KeyFilePath(scope), fresh.bytes)) {
    if (platform::LastError() != platform::kErrorFileExists) return SecretStatus::kKeyNotSaved;
    return ReadKey(scope, key);
  }
  std::copy(fresh.bytes.begin(), fresh.bytes.end(), key.bytes.begin());
  return SecretStatus::kOk;
}

std::string EncodeBase64(const std::vector<unsigned char>& bytes) {
  std::string text(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  const int length = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()), bytes.data(),
                                     static_cast<int>(bytes.size()));
  text.resize(length > 0 ? static_cast<size_t>(length) : 0);
  return text;
}

// Strict Base64 with padding; false for anything else.
bool DecodeBase64(std::string_view text, std::vector<unsigned char>& bytes) {
  if (text.empty() || text.size() % 4 != 0) return false;
  bytes.assign(text.size() / 4 * 3, 0);
  const int length =
      EVP_DecodeBlock(bytes.data(), reinterpret_cast<const unsigned char*>(text.data()),
                      static_cast<int>(text.size()));
  if (length < 0 || static_cast<size_t>(length) != bytes.size()) return false;
  const size_t padding = text.ends_with("==") ? 2 : text.ends_with('=') ? 1 : 0;
  if (text.substr(0, text.size() - padding).find('=') != std::string_view::npos) return false;
  bytes.resize(bytes.size() - padding);
  return true;
}

using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)>;

bool SetAad(EVP_CIPHER_CTX* context, SecretScope scope) {
  const std::string_view aad = ScopeName(scope);
  int length = 0;
  return EVP_CipherUpdate(context, nullptr, &length,
                          reinterpret_cast<const unsigned char*>(aad.data()),
                          static_cast<int>(aad.size())) == 1;
}

}  // namespace

const char* StatusText(SecretStatus status) {
  switch (status) {
    case SecretStatus::kOk:
      return "success";
    case SecretStatus::kNotProtected:
      return "the value is not protected";
    case SecretStatus::kUnknownVersion:
      return "the protected value has an unknown version";
    case SecretStatus::kMalformed:
      return "the protected value is damaged";
    case SecretStatus::kNoKey:
      return "no key for protected values exists";
    case SecretStatus::kKeyUnreadable:
      return "the key of protected values cannot be read";
    case SecretStatus::kKeyNotSaved:
      return "the key of protected values cannot be saved";
    case SecretStatus::kMismatch:
      return "the protected value was changed or belongs to another account";
    case SecretStatus::kCipherFailed:
      return "the cipher failed";
  }
  return "unknown";
}

SecretScope ProcessScope() {
  return CompareNoCase(platform::ProcessUserName(), platform::kSystemAccountName) == 0
             ? SecretScope::kMachine
             : SecretScope::kUser;
}

SecretScope HiveScope(uint32_t rootHandle) {
  return rootHandle == platform::kHkeyLocalMachine ? SecretScope::kMachine : ProcessScope();
}

std::string KeyFilePath(SecretScope scope) {
  return (scope == SecretScope::kMachine ? platform::MachineKeyDirectory()
                                         : platform::UserKeyDirectory()) +
         kKeyFileName;
}

bool IsProtectedForm(std::string_view stored) {
  if (!stored.starts_with(kFormPrefix)) return false;
  size_t at = kFormPrefix.size();
  while (at < stored.size() && stored[at] >= '0' && stored[at] <= '9') ++at;
  return at > kFormPrefix.size() && at < stored.size() && stored[at] == ':';
}

SecretStatus Protect(SecretScope scope, std::string_view secret, std::string& stored) {
  stored.clear();
  Key key;
  SecretStatus status = ReadOrMakeKey(scope, key);
  if (status != SecretStatus::kOk) return status;
  std::vector<unsigned char> sealed(kNonceSize + secret.size() + kTagSize);
  unsigned char* nonce = sealed.data();
  unsigned char* body = nonce + kNonceSize;
  unsigned char* tag = body + secret.size();
  CipherContext context(EVP_CIPHER_CTX_new(), &EVP_CIPHER_CTX_free);
  int length = 0;
  bool ok =
      context && RAND_bytes(nonce, kNonceSize) == 1 &&
      EVP_EncryptInit_ex(context.get(), EVP_aes_256_gcm(), nullptr, key.bytes.data(), nonce) == 1 &&
      SetAad(context.get(), scope) &&
      EVP_EncryptUpdate(context.get(), body, &length,
                        reinterpret_cast<const unsigned char*>(secret.data()),
                        static_cast<int>(secret.size())) == 1 &&
      EVP_EncryptFinal_ex(context.get(), body + length, &length) == 1 &&
      EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_GET_TAG, kTagSize, tag) == 1;
  if (!ok) return SecretStatus::kCipherFailed;
  stored = std::string(kVersion1) + EncodeBase64(sealed);
  return SecretStatus::kOk;
}

SecretStatus Unprotect(SecretScope scope, std::string_view stored, std::string& secret) {
  WipeSecret(secret);
  if (!IsProtectedForm(stored)) return SecretStatus::kNotProtected;
  if (!stored.starts_with(kVersion1)) return SecretStatus::kUnknownVersion;
  std::vector<unsigned char> sealed;
  if (!DecodeBase64(stored.substr(kVersion1.size()), sealed) ||
      sealed.size() < kNonceSize + kTagSize) {
    return SecretStatus::kMalformed;
  }
  Key key;
  SecretStatus status = ReadKey(scope, key);
  if (status != SecretStatus::kOk) return status;
  const size_t bodySize = sealed.size() - kNonceSize - kTagSize;
  unsigned char* nonce = sealed.data();
  unsigned char* body = nonce + kNonceSize;
  unsigned char* tag = body + bodySize;
  Wiped<std::string> clear;
  clear.bytes.resize(bodySize);
  unsigned char* out = reinterpret_cast<unsigned char*>(clear.bytes.data());
  CipherContext context(EVP_CIPHER_CTX_new(), &EVP_CIPHER_CTX_free);
  int length = 0;
  bool ready =
      context &&
      EVP_DecryptInit_ex(context.get(), EVP_aes_256_gcm(), nullptr, key.bytes.data(), nonce) == 1 &&
      SetAad(context.get(), scope) &&
      EVP_DecryptUpdate(context.get(), out, &length, body, static_cast<int>(bodySize)) == 1 &&
      EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_SET_TAG, kTagSize, tag) == 1;
  if (!ready) return SecretStatus::kCipherFailed;
  // Only a matching tag lets the clear text out.
  if (EVP_DecryptFinal_ex(context.get(), out + length, &length) != 1)
    return SecretStatus::kMismatch;
  secret.assign(clear.bytes);
  return SecretStatus::kOk;
}

std::string RevealStoredSecret(std::string_view stored, SecretScope scope, SecretStatus* status) {
  std::string secret;
  const SecretStatus result = Unprotect(scope, stored, secret);
  if (status != nullptr) *status = result;
  if (result == SecretStatus::kNotProtected) return std::string(stored);
  if (result != SecretStatus::kOk) {
    HxTrace::Instance().TraceL1(kTraceGeneral, "Protected value not readable: %s\n",
                                StatusText(result));
  }
  return secret;
}

void WipeSecret(std::string& secret) {
  if (!secret.empty()) OPENSSL_cleanse(secret.data(), secret.size());
  secret.clear();
}

}  // namespace secrets
