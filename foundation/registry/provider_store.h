// The registry provider store: the plug-in's persistent values under one key per provider
// ("SOFTWARE\Strovane\ProviderList\" + provider id, machine level, always in HKEY_LOCAL_MACHINE)
// and one per user below it ("\users\" + user name). Per-user keys live in HKEY_LOCAL_MACHINE
// when the process runs as the system account or has no user name, else in the context's "HKCU"
// hive. Every call opens and closes its own key. Numbers are REG_DWORD, texts REG_SZ.
//
// Out-parameters are zeroed (texts emptied) on failure. A null or empty subkey selects the
// provider key (or the per-user key) itself.
#pragma once
#include <cstddef>
#include <cstdint>

#include "foundation/strings/hx_str.h"
#include "platform/registry.h"

namespace provider_store {

// Result codes; any other number is the registry's own error passed through.
inline constexpr uint32_t kStoreSuccess = 0;
// The key path cannot be built: no provider id (or user name for a per-user path), or the path
// does not fit the buffer.
inline constexpr uint32_t kStoreNoKeyPath = 1010;
// An open could not build the key path it was to open.
inline constexpr uint32_t kStoreOpenNoKeyPath = 1011;
// A missing argument, or a value of the wrong type or size.
inline constexpr uint32_t kStoreBadValue = 1012;

// Key paths are built in buffers of this size (terminator included).
inline constexpr size_t kKeyPathSize = 260;
inline constexpr const char* kProviderListKey = "SOFTWARE\\Strovane\\ProviderList\\";

// Access masks the store opens with.
inline constexpr uint32_t kStoreReadAccess = platform::kKeyRead;  // 0x20019
inline constexpr uint32_t kStoreWriteAccess = 0x2001f;

// Who the store's keys belong to. The process context supplies it; the store reads it on every
// call, so each thread sees its own context's values.
struct ProviderStoreIdentity {
  HxStr providerId;                                // the context's "ProviderId"
  HxStr userName;                                  // the context's "UserName"
  uint32_t userHive = platform::kHkeyCurrentUser;  // the context's "HKCU", as a handle value
};

// The function the context installs to hand out its identity; null restores the default, which
// has no provider id (every per-provider call then fails with 1010/1011).
using ProviderStoreIdentitySource = ProviderStoreIdentity (*)();
void SetProviderStoreIdentitySource(ProviderStoreIdentitySource source);
// The identity in force for the calling thread.
ProviderStoreIdentity CurrentProviderStoreIdentity();

// The hive of per-user keys: HKEY_LOCAL_MACHINE for the system account or a process without a
// user name, else the identity's userHive.
uint32_t PerUserHive();

// Builds the key path (without the hive) into buffer: provider key, then "\users\" + user name
// when perUser, then "\" + subKey when given.
uint32_t ProviderKeyPath(const char* subKey, char* buffer, size_t size, bool perUser);

// Opens an existing key. Machine-level keys open with KEY_READ whatever `access` asks for;
// per-user keys with `access`. 1011 when the path cannot be built.
uint32_t OpenProviderKey(platform::RegistryKey& key, uint32_t access, const char* subKey,
                         bool perUser);
// Opens with access 0x2001f; when that fails, creates the key with the same access.
uint32_t OpenProviderKeyForWrite(platform::RegistryKey& key, const char* subKey, bool perUser);

// A REG_SZ or REG_EXPAND_SZ value into buffer (size >= 1; a text that does not fit gives 234).
uint32_t ReadString(const char* subKey, const char* name, char* buffer, size_t size, bool perUser);
// The same into a string of any length.
uint32_t ReadString(const char* subKey, const char* name, HxStr& out, bool perUser);
// A REG_DWORD value.
uint32_t ReadDword(const char* subKey, const char* name, uint32_t& out, bool perUser);
// Up to 260 bytes of a REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD or REG_MULTI_SZ value;
// out := its first byte is not zero.
uint32_t ReadBool(const char* subKey, const char* name, bool& out, bool perUser);

// Write through OpenProviderKeyForWrite. A text is stored without its terminating zero.
uint32_t WriteDword(const char* subKey, const char* name, uint32_t value, bool perUser);
uint32_t WriteString(const char* subKey, const char* name, const char* text, bool perUser);
// Opens with access 2 (set value) and deletes the value.
uint32_t DeleteValue(const char* subKey, const char* name, bool perUser);

// Opens hive + provider key of providerId + "\users\" + userName with access 0x2001f,
// creating it when `create` is set.
uint32_t OpenUserKey(platform::RegistryKey& key, uint32_t hive, const char* providerId,
                     const char* userName, bool create);

}  // namespace provider_store
