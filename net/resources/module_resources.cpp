#include "net/resources/module_resources.h"

#include "foundation/strings/hx_str.h"

bool ModuleResources::Find(std::string_view name, std::string_view type,
                           std::span<const unsigned char>& bytes) const {
  for (const ModuleResourceEntry& entry : m_entries) {
    if (CompareNoCase(name, entry.name) == 0 && CompareNoCase(type, entry.type) == 0) {
      bytes = std::span<const unsigned char>(entry.bytes, entry.size);
      return true;
    }
  }
  return false;
}

bool FindModuleResource(std::string_view name, std::string_view type,
                        std::span<const unsigned char>& bytes) {
  return ThisModuleResources().Find(name, type, bytes);
}
