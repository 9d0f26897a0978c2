#include "foundation/registry/provider_store.h"

#include <atomic>
#include <cstring>
#include <string>

#include "foundation/users/users.h"
#include "platform/errors.h"
#include "platform/sandbox.h"

namespace provider_store {
namespace {

std::atomic<ProviderStoreIdentitySource> gIdentitySource{nullptr};

// Bytes ReadBool looks at.
constexpr uint32_t kBoolReadSize = 260;

bool Missing(const char* text) { return text == nullptr || *text == '\0'; }

// The key path, checked against `size` (terminator included); 1010 when it cannot be built.
uint32_t BuildKeyPath(const char* subKey, bool perUser, size_t size, std::string& path) {
  path.clear();
  const ProviderStoreIdentity identity = CurrentProviderStoreIdentity();
  if (identity.providerId.IsEmpty()) return kStoreNoKeyPath;
  if (perUser && identity.userName.IsEmpty()) return kStoreNoKeyPath;
  path = std::string(kProviderListKey) + identity.providerId.c_str();
  if (perUser) path += std::string("\\users\\") + identity.userName.c_str();
  if (!Missing(subKey)) path += std::string("\\") + subKey;
  if (path.size() + 1 > size) {
    path.clear();
    return kStoreNoKeyPath;
  }
  return kStoreSuccess;
}

uint32_t HiveOf(bool perUser) { return perUser ? PerUserHive() : platform::kHkeyLocalMachine; }

// Reads a whole value through a key opened for reading.
uint32_t ReadValue(const char* subKey, const char* name, bool perUser,
                   platform::RegistryValue& value) {
  platform::RegistryKey key;
  uint32_t code = OpenProviderKey(key, kStoreReadAccess, subKey, perUser);
  if (code != kStoreSuccess) return code;
  return key.QueryValue(name == nullptr ? "" : name, value);
}

bool IsTextType(uint32_t type) {
  return type == platform::kRegSz || type == platform::kRegExpandSz;
}

// The text of a string value: its bytes up to the first zero byte.
std::string_view TextOf(const platform::RegistryValue& value) {
  if (value.data.empty()) return {};
  const auto* bytes = reinterpret_cast<const char*>(value.data.data());
  return std::string_view(bytes, strnlen(bytes, value.data.size()));
}

// Reads a REG_SZ or REG_EXPAND_SZ value's text.
uint32_t ReadText(const char* subKey, const char* name, bool perUser, std::string_view& text,
                  platform::RegistryValue& value) {
  uint32_t code = ReadValue(subKey, name, perUser, value);
  if (code != kStoreSuccess) return code;
  if (!IsTextType(value.type)) return kStoreBadValue;
  text = TextOf(value);
  return kStoreSuccess;
}

}  // namespace

void SetProviderStoreIdentitySource(ProviderStoreIdentitySource source) {
  gIdentitySource.store(source, std::memory_order_release);
}

ProviderStoreIdentity CurrentProviderStoreIdentity() {
  ProviderStoreIdentitySource source = gIdentitySource.load(std::memory_order_acquire);
  return source != nullptr ? source() : ProviderStoreIdentity{};
}

uint32_t PerUserHive() {
  const std::string processUser = platform::ProcessUserName();
  if (processUser.empty() || IsSystemAccountName(processUser)) {
    return platform::kHkeyLocalMachine;
  }
  const uint32_t hive = CurrentProviderStoreIdentity().userHive;
  return hive != 0 ? hive : platform::kHkeyCurrentUser;
}

uint32_t ProviderKeyPath(const char* subKey, char* buffer, size_t size, bool perUser) {
  if (buffer == nullptr || size == 0) return kStoreBadValue;
  buffer[0] = '\0';
  std::string path;
  uint32_t code = BuildKeyPath(subKey, perUser, size, path);
  if (code == kStoreSuccess) std::memcpy(buffer, path.c_str(), path.size() + 1);
  return code;
}

uint32_t OpenProviderKey(platform::RegistryKey& key, uint32_t access, const char* subKey,
                         bool perUser) {
  key.Close();
  std::string path;
  if (BuildKeyPath(subKey, perUser, kKeyPathSize, path) != kStoreSuccess) {
    return kStoreOpenNoKeyPath;
  }
  return key.Open(HiveOf(perUser), path, perUser ? access : kStoreReadAccess);
}

uint32_t OpenProviderKeyForWrite(platform::RegistryKey& key, const char* subKey, bool perUser) {
  uint32_t code = OpenProviderKey(key, kStoreWriteAccess, subKey, perUser);
  if (code == kStoreSuccess || code == kStoreOpenNoKeyPath) return code;
  std::string path;
  BuildKeyPath(subKey, perUser, kKeyPathSize, path);
  return key.Create(HiveOf(perUser), path, kStoreWriteAccess);
}

uint32_t ReadString(const char* subKey, const char* name, char* buffer, size_t size, bool perUser) {
  if (buffer == nullptr || size < 1) return kStoreBadValue;
  buffer[0] = '\0';
  platform::RegistryValue value;
  std::string_view text;
  uint32_t code = ReadText(subKey, name, perUser, text, value);
  if (code != kStoreSuccess) return code;
  if (text.size() + 1 > size) return platform::kErrorMoreData;
  if (!text.empty()) std::memcpy(buffer, text.data(), text.size());
  buffer[text.size()] = '\0';
  return kStoreSuccess;
}

uint32_t ReadString(const char* subKey, const char* name, HxStr& out, bool perUser) {
  out.Empty();
  platform::RegistryValue value;
  std::string_view text;
  uint32_t code = ReadText(subKey, name, perUser, text, value);
  if (code == kStoreSuccess) out = text;
  return code;
}

uint32_t ReadDword(const char* subKey, const char* name, uint32_t& out, bool perUser) {
  out = 0;
  platform::RegistryValue value;
  uint32_t code = ReadValue(subKey, name, perUser, value);
  if (code != kStoreSuccess) return code;
  if (value.type != platform::kRegDword || value.data.size() != sizeof out) return kStoreBadValue;
  std::memcpy(&out, value.data.data(), sizeof out);
  return kStoreSuccess;
}

uint32_t ReadBool(const char* subKey, const char* name, bool& out, bool perUser) {
  out = false;
  platform::RegistryValue value;
  uint32_t code = ReadValue(subKey, name, perUser, value);
  if (code != kStoreSuccess) return code;
  if (value.data.size() > kBoolReadSize) return platform::kErrorMoreData;
  switch (value.type) {
    case platform::kRegSz:
    case platform::kRegExpandSz:
    case platform::kRegBinary:
    case platform::kRegDword:
    case platform::kRegMultiSz:
      out = !value.data.empty() && value.data[0] != 0;
      return kStoreSuccess;
    default:
      return kStoreBadValue;
  }
}

uint32_t WriteDword(const char* subKey, const char* name, uint32_t value, bool perUser) {
  platform::RegistryKey key;
  uint32_t code = OpenProviderKeyForWrite(key, subKey, perUser);
  if (code != kStoreSuccess) return code;
  return key.SetDword(name == nullptr ? "" : name, value);
}

uint32_t WriteString(const char* subKey, const char* name, const char* text, bool perUser) {
  if (text == nullptr) return kStoreBadValue;
  platform::RegistryKey key;
  uint32_t code = OpenProviderKeyForWrite(key, subKey, perUser);
  if (code != kStoreSuccess) return code;
  return key.SetValue(name == nullptr ? "" : name, platform::kRegSz, text,
                      static_cast<uint32_t>(std::strlen(text)));
}

uint32_t DeleteValue(const char* subKey, const char* name, bool perUser) {
  platform::RegistryKey key;
  uint32_t code = OpenProviderKey(key, platform::kKeySetValue, subKey, perUser);
  if (code != kStoreSuccess) return code;
  return key.DeleteValue(name == nullptr ? "" : name);
}

uint32_t OpenUserKey(platform::RegistryKey& key, uint32_t hive, const char* providerId,
                     const char* userName, bool create) {
  key.Close();
  if (Missing(providerId)) return kStoreNoKeyPath;
  if (userName == nullptr) return kStoreBadValue;
  const std::string path = std::string(kProviderListKey) + providerId + "\\users\\" + userName;
  if (path.size() + 1 > kKeyPathSize) return kStoreNoKeyPath;
  return create ? key.Create(hive, path, kStoreWriteAccess)
                : key.Open(hive, path, kStoreWriteAccess);
}

}  // namespace provider_store
