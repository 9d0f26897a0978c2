// The registry: one SQLite database per hive (the machine's, and each user's), typed values kept
// byte for byte, keys opened with an access mask. Results are Windows error numbers (errors.h).
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Predefined roots, with Windows' handle values (contexts store them as numbers).
inline constexpr uint32_t kHkeyClassesRoot = 0x80000000u;
inline constexpr uint32_t kHkeyCurrentUser = 0x80000001u;
inline constexpr uint32_t kHkeyLocalMachine = 0x80000002u;

// The long name of a predefined root ("HKEY_LOCAL_MACHINE"); null for any other number.
const char* PredefinedKeyName(uint32_t root);

enum RegistryType : uint32_t {
  kRegNone = 0,
  kRegSz = 1,
  kRegExpandSz = 2,
  kRegBinary = 3,
  kRegDword = 4,
  kRegMultiSz = 7,
  kRegQword = 11,
};

// Access rights of an open key.
inline constexpr uint32_t kKeyQueryValue = 0x0001;
inline constexpr uint32_t kKeySetValue = 0x0002;
inline constexpr uint32_t kKeyCreateSubKey = 0x0004;
inline constexpr uint32_t kKeyEnumerateSubKeys = 0x0008;
inline constexpr uint32_t kKeyNotify = 0x0010;
inline constexpr uint32_t kKeyCreateLink = 0x0020;
inline constexpr uint32_t kKeyWow64Flags = 0x0300;  // accepted and ignored: one view only
inline constexpr uint32_t kAccessDelete = 0x00010000;
inline constexpr uint32_t kAccessReadControl = 0x00020000;
inline constexpr uint32_t kAccessWriteDac = 0x00040000;
inline constexpr uint32_t kAccessWriteOwner = 0x00080000;
inline constexpr uint32_t kMaximumAllowed = 0x02000000;
inline constexpr uint32_t kGenericAll = 0x10000000;
inline constexpr uint32_t kGenericExecute = 0x20000000;
inline constexpr uint32_t kGenericWrite = 0x40000000;
inline constexpr uint32_t kGenericRead = 0x80000000;
inline constexpr uint32_t kKeyRead = 0x20019;
inline constexpr uint32_t kKeyWrite = 0x20006;
inline constexpr uint32_t kKeyAllAccess = 0xF003F;

// Registry errors beyond the common ones of errors.h, in Windows' numbering.
inline constexpr uint32_t kErrorBadPathname = 161;
inline constexpr uint32_t kErrorBadKey = 1010;  // among others, a key deeper than kMaxKeyDepth
inline constexpr uint32_t kErrorRegistryCorrupt = 1015;
inline constexpr uint32_t kErrorRegistryIoFailed = 1016;
inline constexpr uint32_t kErrorKeyDeleted = 1018;

// Keys nest at most this many levels below the root of their hive.
inline constexpr size_t kMaxKeyDepth = 512;

struct RegistryValue {
  std::string name;  // empty: the key's unnamed (default) value
  uint32_t type = kRegNone;
  std::vector<uint8_t> data;
};

struct RegistryKeyInfo {
  uint32_t subKeys = 0;
  uint32_t maxSubKeyLength = 0;
  uint32_t values = 0;
  uint32_t maxValueNameLength = 0;
  uint32_t maxValueLength = 0;
};

// Value data in the registry's layout: a text with its terminating zero, little-endian numbers.
std::vector<uint8_t> RegistryStringData(std::string_view text);
std::vector<uint8_t> RegistryDwordData(uint32_t value);
std::vector<uint8_t> RegistryQwordData(uint64_t value);

// An open key. HKEY_CURRENT_USER is the process user's hive; the system account keeps its per-user
// keys in the machine hive under "users\SYSTEM". HKEY_CLASSES_ROOT merges the user's
// "Software\Classes" over the machine's. Key and value names compare without regard to case and
// keep the case they were created with. Subkeys enumerate in case-insensitive name order, values
// in the order they were first written; an enumeration reads the key once and reads it again
// only after a change. Every change is one transaction, unless a RegistryTransaction groups it.
class RegistryKey {
 public:
  RegistryKey();
  ~RegistryKey();
  RegistryKey(RegistryKey&& other) noexcept;
  RegistryKey& operator=(RegistryKey&& other) noexcept;
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  // Opens an existing key below a predefined root or an open key (an empty path opens the
  // same key again). 2 when it does not exist; 5 when the access cannot be granted.
  uint32_t Open(uint32_t root, std::string_view subKey, uint32_t access);
  uint32_t Open(const RegistryKey& parent, std::string_view subKey, uint32_t access);
  // Opens the key, creating it and its missing parents first; created tells which happened.
  uint32_t Create(uint32_t root, std::string_view subKey, uint32_t access, bool* created = nullptr);
  uint32_t Create(const RegistryKey& parent, std::string_view subKey, uint32_t access,
                  bool* created = nullptr);
  void Close();

  bool IsOpen() const;
  uint32_t Access() const { return access_; }
  // The full path with the root's long name and the stored case of each key name.
  const std::string& Path() const { return path_; }

  // Reads a value: with data null only its size; 234 and the size needed when size is too small.
  // type may be null.
  uint32_t QueryValue(std::string_view name, uint32_t* type, void* data, uint32_t* size) const;
  uint32_t QueryValue(std::string_view name, RegistryValue& value) const;
  uint32_t SetValue(std::string_view name, uint32_t type, const void* data, uint32_t size);
  uint32_t SetString(std::string_view name, std::string_view text, uint32_t type = kRegSz);
  uint32_t SetDword(std::string_view name, uint32_t value);
  uint32_t DeleteValue(std::string_view name);

  // Enumeration by index: 259 past the end. Each call costs a check that the hive has not
  // changed since the key was last read, so enumerating a key is linear.
  uint32_t EnumKey(uint32_t index, std::string& name) const;
  uint32_t EnumValue(uint32_t index, RegistryValue& value) const;
  // Buffer form: 234 and the size needed when the data does not fit (name is still filled).
  uint32_t EnumValue(uint32_t index, std::string& name, uint32_t* type, void* data,
                     uint32_t* size) const;
  uint32_t QueryInfo(RegistryKeyInfo& info) const;

  // Deletes a subkey; 5 when it has subkeys of its own.
  uint32_t DeleteKey(std::string_view subKey);
  // Deletes a subkey with everything below it; an empty path empties this key instead.
  uint32_t DeleteTree(std::string_view subKey);

  struct Location;
  struct Listing;

 private:
  uint32_t FromRoot(uint32_t root, std::string_view subKey, uint32_t access, bool create,
                    bool* created);
  uint32_t OpenFrom(std::vector<Location> base, std::string basePath, std::string_view subKey,
                    uint32_t access, bool create, bool* created);
  uint32_t Check(uint32_t needed) const;
  uint32_t DeleteSubKey(std::string_view subKey, bool tree);
  // The key's values and subkey names as last read, read again when a hive changed.
  uint32_t Snapshot(bool values, bool subKeys) const;

  std::vector<Location> locations_;  // the user's first in a merged view
  std::string path_;
  uint32_t access_ = 0;
  std::unique_ptr<Listing> listing_;  // with its own lock: const calls fill it
};

// Makes every change this thread makes to the registry until Commit one transaction per hive:
// all of them or, when the object goes away uncommitted, none. Other threads' calls to the hives
// it touched wait until it ends. A transaction begun inside another one joins the outer one.
class RegistryTransaction {
 public:
  RegistryTransaction();
  ~RegistryTransaction();
  RegistryTransaction(const RegistryTransaction&) = delete;
  RegistryTransaction& operator=(const RegistryTransaction&) = delete;

  // Commits every hive in turn; a failure rolls back the hives not yet committed.
  uint32_t Commit();

 private:
  bool outer_;
};

// Test aid: inside a sandbox, make the machine hive writable by root only, as it is outside one.
void SetMachineHiveRootOnlyInSandbox(bool rootOnly);

}  // namespace platform
