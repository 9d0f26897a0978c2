// One hive of the registry: a SQLite database of keys (a tree by parent id) and typed values.
// Every call is one transaction under the hive's lock; results are Windows error numbers.
#pragma once
#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"

struct sqlite3;

namespace platform::registry_detail {

// A value written into a hive when the key it belongs to is first created.
struct SeedValue {
  std::string key;  // below the created key
  std::string name;
  uint32_t type = kRegSz;
  std::vector<uint8_t> data;
};

// The id and stored name of each key along a path.
struct KeyPath {
  int64_t id = 0;
  std::string storedPath;  // components joined by backslashes, in their stored case
};

// What a cached listing was read at: the database's data version (another connection's commit
// changes it) and the count of this process's writes through the hive.
struct HiveVersion {
  int64_t data = -1;
  uint64_t writes = 0;
  bool operator==(const HiveVersion&) const = default;
};

// Splits a key path at backslashes; 161 for a leading backslash, 87 for a name over 255 bytes.
uint32_t SplitKeyPath(std::string_view path, std::vector<std::string_view>& parts);

// ASCII case-insensitive equality, as the hive compares names.
bool SameName(std::string_view a, std::string_view b);

// The shell-folder values of a new machine hive, or of a new hive of the process user.
std::vector<SeedValue> ShellFolderSeed(bool machineHive);

class Hive {
 public:
  static constexpr int64_t kRootKey = 1;

  // The process's connection to the hive at path, made (and the hive created, with the seed
  // values) on first use. machine selects the machine hive's file modes and write policy.
  static std::shared_ptr<Hive> Get(const std::string& path, bool machine, uint32_t& error);

  ~Hive();
  Hive(const Hive&) = delete;
  Hive& operator=(const Hive&) = delete;

  // 0 when this process may change the hive, else 5.
  uint32_t CheckWritable();

  uint32_t Find(int64_t from, const std::vector<std::string_view>& parts, KeyPath& found);
  // Finds or creates the path; 1010 when a new key would lie deeper than kMaxKeyDepth. A seed
  // marks a key that stands for a new hive: when the last key is new it gets "Software\Classes"
  // and the seed values.
  uint32_t Create(int64_t from, const std::vector<std::string_view>& parts, KeyPath& found,
                  bool& created, const std::vector<SeedValue>& seed = {});

  uint32_t GetValue(int64_t key, std::string_view name, RegistryValue& value);
  uint32_t SetValue(int64_t key, std::string_view name, uint32_t type, const void* data,
                    uint32_t size);
  uint32_t DeleteValue(int64_t key, std::string_view name);
  // Subkey names in case-insensitive order; values in the order first written. One query each.
  uint32_t SubKeyNames(int64_t key, std::vector<std::string>& names);
  uint32_t Values(int64_t key, std::vector<RegistryValue>& values);
  uint32_t Version(HiveVersion& version);
  // Deletes the key at parts below parent: 5 when it has subkeys unless tree; an empty path
  // with tree set removes everything below parent instead. Deepest keys go first, so that no
  // deletion cascades further than one level.
  uint32_t DeleteKey(int64_t parent, const std::vector<std::string_view>& parts, bool tree);

  // This thread's transaction: begin (false when one is already open), commit, roll back.
  static bool BeginThreadTransaction();
  static uint32_t EndThreadTransaction(bool commit);

 private:
  Hive(std::string path, bool machine);
  sqlite3* Connection(uint32_t& error);
  uint32_t Connect();
  uint32_t Initialise();
  uint32_t CheckWritableLocked();
  // Locks the hive for one call. Inside this thread's transaction the hive joins it on first
  // use and stays locked and in its SQLite transaction until that ends; joined tells which.
  uint32_t Enter(bool& joined);
  void Leave(bool joined);
  uint32_t Finish(bool commit);
  // Runs body(db) in one transaction (or savepoint) under the lock; a failure rolls it back.
  template <typename Body>
  uint32_t Run(bool write, Body&& body);

  std::timed_mutex mutex_;
  std::string path_;
  bool machine_;
  sqlite3* db_ = nullptr;
  pid_t pid_ = 0;       // a forked child makes its own connection
  uint64_t writes_ = 0;  // under mutex_
};

}  // namespace platform::registry_detail
