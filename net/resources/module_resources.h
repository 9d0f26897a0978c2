// Resources compiled into a module, found by name and type as the loader finds a DLL's
// resources. The plug-in's own table holds the trusted root bundle "pki_cacert" of type "PKCS7"
// when the build was given one (TIDESYNC_ROOT_BUNDLE); tests build tables of their own.
#pragma once
#include <cstddef>
#include <span>
#include <string_view>

struct ModuleResourceEntry {
  const char* name;
  const char* type;
  const unsigned char* bytes;
  size_t size;
};

class ModuleResources {
 public:
  constexpr ModuleResources(const ModuleResourceEntry* entries, size_t count)
      : m_entries(entries, count) {}

  // The bytes of the resource; names and types compare without regard to case. False when
  // the module holds no such resource.
  bool Find(std::string_view name, std::string_view type,
            std::span<const unsigned char>& bytes) const;

 private:
  std::span<const ModuleResourceEntry> m_entries;
};

// The resources of this module (generated at build time).
const ModuleResources& ThisModuleResources();

// Find on this module's resources.
bool FindModuleResource(std::string_view name, std::string_view type,
                        std::span<const unsigned char>& bytes);
