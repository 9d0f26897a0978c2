// Small registry reads and writes of the context: texts of any key below a predefined root.
#pragma once
#include <cstdint>
#include <string_view>

#include "foundation/strings/hx_str.h"
#include "platform/registry.h"

namespace context_registry {

// Opens an existing key for reading.
bool OpenForReading(platform::RegistryKey& key, uint32_t root, std::string_view path);

// A REG_SZ or REG_EXPAND_SZ value, without its terminating zero; false (out empty) when absent,
// of another type, or longer than `limit` bytes when a limit is given.
bool ReadText(const platform::RegistryKey& key, std::string_view name, HxStr& out,
              size_t limit = 0);
// Opens the key and reads the value.
bool ReadText(uint32_t root, std::string_view path, std::string_view name, HxStr& out,
              size_t limit = 0);

// Stores a REG_SZ value with its terminating zero, as the system's own writers do.
bool WriteText(platform::RegistryKey& key, std::string_view name, std::string_view text);
// The same into a key that is created when missing.
bool WriteText(uint32_t root, std::string_view path, std::string_view name, std::string_view text);

// The name of the first REG_SZ value of the registry store's per-user key (for the context in
// force) whose text equals `server` without regard to case; empty when there is none.
HxStr FindProviderIdByServer(std::string_view server);

}  // namespace context_registry
