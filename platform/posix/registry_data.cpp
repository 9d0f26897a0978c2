#include "platform/registry.h"

namespace platform {

const char* PredefinedKeyName(uint32_t root) {
  switch (root) {
    case kHkeyClassesRoot:
      return "HKEY_CLASSES_ROOT";
    case kHkeyCurrentUser:
      return "HKEY_CURRENT_USER";
    case kHkeyLocalMachine:
      return "HKEY_LOCAL_MACHINE";
    default:
      return nullptr;
  }
}

std::vector<uint8_t> RegistryStringData(std::string_view text) {
  std::vector<uint8_t> data(text.begin(), text.end());
  data.push_back(0);
  return data;
}

std::vector<uint8_t> RegistryDwordData(uint32_t value) {
  std::vector<uint8_t> data(4);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(value >> (8 * i));
  return data;
}

std::vector<uint8_t> RegistryQwordData(uint64_t value) {
  std::vector<uint8_t> data(8);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(value >> (8 * i));
  return data;
}

}  // namespace platform
