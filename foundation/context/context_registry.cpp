#include "foundation/context/context_registry.h"

#include "foundation/registry/provider_store.h"

namespace context_registry {

namespace {

constexpr size_t kMaxProviderIdLength = 259;

// The text of a string value's data: up to its terminating zero.
std::string_view DataText(const platform::RegistryValue& value) {
  std::string_view text(reinterpret_cast<const char*>(value.data.data()), value.data.size());
  return text.substr(0, text.find('\0'));
}

}  // namespace

bool OpenForReading(platform::RegistryKey& key, uint32_t root, std::string_view path) {
  return key.Open(root, path, platform::kKeyRead) == 0;
}

bool ReadText(const platform::RegistryKey& key, std::string_view name, HxStr& out, size_t limit) {
  out.Empty();
  platform::RegistryValue value;
  if (key.QueryValue(name, value) != 0) return false;
  if (value.type != platform::kRegSz && value.type != platform::kRegExpandSz) return false;
  const std::string_view text = DataText(value);
  if (limit != 0 && text.size() > limit) return false;
  out = HxStr(text);
  return true;
}

bool ReadText(uint32_t root, std::string_view path, std::string_view name, HxStr& out,
              size_t limit) {
  platform::RegistryKey key;
  if (!OpenForReading(key, root, path)) {
    out.Empty();
    return false;
  }
  return ReadText(key, name, out, limit);
}

bool WriteText(platform::RegistryKey& key, std::string_view name, std::string_view text) {
  const std::vector<uint8_t> data = platform::RegistryStringData(text);
  return key.SetValue(name, platform::kRegSz, data.data(), static_cast<uint32_t>(data.size())) == 0;
}

bool WriteText(uint32_t root, std::string_view path, std::string_view name, std::string_view text) {
  platform::RegistryKey key;
  return key.Create(root, path, platform::kKeyWrite) == 0 && WriteText(key, name, text);
}

HxStr FindProviderIdByServer(std::string_view server) {
  platform::RegistryKey key;
  if (provider_store::OpenProviderKey(key, platform::kKeyRead, nullptr, true) != 0) return HxStr();
  platform::RegistryValue value;
  for (uint32_t index = 0; key.EnumValue(index, value) == 0; ++index) {
    if (value.type == platform::kRegSz && CompareNoCase(DataText(value), server) == 0) {
      return HxStr(std::string_view(value.name).substr(0, kMaxProviderIdLength));
    }
  }
  return HxStr();
}

}  // namespace context_registry
