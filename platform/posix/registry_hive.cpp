#include "registry_hive.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>

#include "platform/errors.h"
#include "platform/locations.h"
#include "platform/sandbox.h"
#include "registry_sqlite.h"

namespace platform {

namespace {
std::atomic<bool> gMachineRootOnlyInSandbox{false};
}  // namespace

void SetMachineHiveRootOnlyInSandbox(bool rootOnly) { gMachineRootOnlyInSandbox = rootOnly; }

namespace registry_detail {

namespace {

// A writer waits this long for another process's transaction before giving up with 170.
constexpr int kBusyTimeoutMs = 5000;
constexpr size_t kMaxKeyNameLength = 255;

constexpr const char* kSchema =
    "CREATE TABLE keys("
    "  id INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  parent INTEGER REFERENCES keys(id) ON DELETE CASCADE,"
    "  name TEXT NOT NULL COLLATE NOCASE,"
    "  UNIQUE(parent, name));"
    "CREATE TABLE vals("
    "  id INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  key INTEGER NOT NULL REFERENCES keys(id) ON DELETE CASCADE,"
    "  name TEXT NOT NULL COLLATE NOCASE,"
    "  type INTEGER NOT NULL,"
    "  data BLOB NOT NULL,"
    "  UNIQUE(key, name));"
    "INSERT INTO keys(id, parent, name) VALUES(1, NULL, '');";

uint32_t KeyExists(sqlite3* db, int64_t key) {
  Statement query(db, "SELECT 1 FROM keys WHERE id = ?");
  int rc = query.Bind(key).Step();
  if (rc == SQLITE_ROW) return kErrorSuccess;
  return rc == SQLITE_DONE ? kErrorKeyDeleted : ErrorFromSqlite(rc);
}

uint32_t FindChild(sqlite3* db, int64_t parent, std::string_view name, int64_t& id,
                   std::string& stored) {
  Statement query(db, "SELECT id, name FROM keys WHERE parent = ? AND name = ?");
  int rc = query.Bind(parent).Bind(name).Step();
  if (rc == SQLITE_DONE) return kErrorFileNotFound;
  if (rc != SQLITE_ROW) return ErrorFromSqlite(rc);
  id = query.Int(0);
  stored = query.Text(1);
  return kErrorSuccess;
}

// How many levels below the hive's root the key lies, by one query that climbs its parents.
uint32_t KeyDepth(sqlite3* db, int64_t key, size_t& depth) {
  Statement query(db,
                  "WITH RECURSIVE up(id) AS (SELECT parent FROM keys WHERE id = ? UNION ALL "
                  "SELECT keys.parent FROM keys JOIN up ON keys.id = up.id "
                  "WHERE keys.parent IS NOT NULL) SELECT count(*) FROM up WHERE id IS NOT NULL");
  int rc = query.Bind(key).Step();
  if (rc != SQLITE_ROW) return ErrorFromSqlite(rc);
  depth = static_cast<size_t>(query.Int(0));
  return kErrorSuccess;
}

// Follows (and with create, makes) the path below from; created tells whether the last key is new.
uint32_t Walk(sqlite3* db, int64_t from, const std::vector<std::string_view>& parts, bool create,
              KeyPath& found, bool& created) {
  uint32_t error = KeyExists(db, from);
  if (error != kErrorSuccess) return error;
  found = KeyPath{from, {}};
  created = false;
  constexpr size_t kUnknown = SIZE_MAX;
  size_t depth = kUnknown;  // of found.id, looked up before the first key is made
  for (size_t i = 0; i < parts.size(); ++i) {
    std::string_view part = parts[i];
    int64_t child = 0;
    std::string stored;
    error = FindChild(db, found.id, part, child, stored);
    if (error == kErrorFileNotFound && create) {
      error = depth == kUnknown ? KeyDepth(db, found.id, depth) : kErrorSuccess;
      if (error != kErrorSuccess) return error;
      if (depth + (parts.size() - i) > kMaxKeyDepth) return kErrorBadKey;
      Statement insert(db, "INSERT INTO keys(parent, name) VALUES(?, ?)");
      error = insert.Bind(found.id).Bind(part).Run();
      child = sqlite3_last_insert_rowid(db);
      stored = part;
      created = true;
    }
    if (error != kErrorSuccess) return error;
    found.id = child;
    if (depth != kUnknown) ++depth;
    if (!found.storedPath.empty()) found.storedPath += '\\';
    found.storedPath += stored;
  }
  return kErrorSuccess;
}

// Deletes the keys below top, and top itself unless keepTop (which loses its values instead),
// deepest first: so no deletion cascades further than to the key's own values, however deep the
// tree.
uint32_t DeleteSubtree(sqlite3* db, int64_t top, bool keepTop) {
  std::vector<int64_t> ids;
  Statement tree(db,
                 "WITH RECURSIVE tree(id, depth) AS (SELECT ?, 0 UNION ALL "
                 "SELECT keys.id, tree.depth + 1 FROM keys JOIN tree ON keys.parent = tree.id) "
                 "SELECT id FROM tree WHERE depth >= ? ORDER BY depth DESC");
  tree.Bind(top).Bind(int64_t{keepTop ? 1 : 0});
  int rc;
  while ((rc = tree.Step()) == SQLITE_ROW) ids.push_back(tree.Int(0));
  if (rc != SQLITE_DONE) return ErrorFromSqlite(rc);
  Statement remove(db, "DELETE FROM keys WHERE id = ?");
  for (int64_t id : ids) {
    uint32_t error = remove.Reset().Bind(id).Run();
    if (error != kErrorSuccess) return error;
  }
  if (!keepTop) return kErrorSuccess;
  Statement values(db, "DELETE FROM vals WHERE key = ?");
  return values.Bind(top).Run();
}

uint32_t StoreValue(sqlite3* db, int64_t key, std::string_view name, uint32_t type,
                    const void* data, uint32_t size) {
  // An existing value keeps its name's case and its place in the enumeration order.
  Statement upsert(db,
                   "INSERT INTO vals(key, name, type, data) VALUES(?, ?, ?, ?) "
                   "ON CONFLICT(key, name) DO UPDATE SET type = excluded.type, data = excluded.data");
  return upsert.Bind(key).Bind(name).Bind(static_cast<int64_t>(type)).BindBlob(data, size).Run();
}

// A new hive (or the system account's per-user key) starts with "Software\Classes" and the
// seed values.
uint32_t FillNew(sqlite3* db, int64_t under, const std::vector<SeedValue>& seed) {
  KeyPath classes;
  bool made = false;
  uint32_t error = Walk(db, under, {"Software", "Classes"}, true, classes, made);
  if (error != kErrorSuccess) return error;
  for (const SeedValue& value : seed) {
    std::vector<std::string_view> parts;
    KeyPath key;
    error = SplitKeyPath(value.key, parts);
    if (error == kErrorSuccess) error = Walk(db, under, parts, true, key, made);
    if (error == kErrorSuccess) {
      error = StoreValue(db, key.id, value.name, value.type, value.data.data(),
                         static_cast<uint32_t>(value.data.size()));
    }
    if (error != kErrorSuccess) return error;
  }
  return kErrorSuccess;
}

// This thread's transaction: the hives it holds, each locked and inside its SQLite transaction.
thread_local bool tInTransaction = false;
thread_local std::vector<Hive*> tJoined;

bool FileExists(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0;
}

std::string ParentDirectory(const std::string& path) {
  std::string::size_type slash = path.find_last_of('/');
  return slash == std::string::npos || slash == 0 ? std::string("/") : path.substr(0, slash);
}

}  // namespace

uint32_t SplitKeyPath(std::string_view path, std::vector<std::string_view>& parts) {
  parts.clear();
  if (!path.empty() && path.front() == '\\') return kErrorBadPathname;
  while (!path.empty()) {
    std::string_view::size_type slash = path.find('\\');
    std::string_view part = path.substr(0, slash);
    if (part.size() > kMaxKeyNameLength) return kErrorInvalidParameter;
    if (!part.empty()) parts.push_back(part);
    path = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
  }
  return kErrorSuccess;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

std::vector<SeedValue> ShellFolderSeed(bool machineHive) {
  std::vector<SeedValue> seed;
  for (ShellFolderValue& value : ShellFolderValues(machineHive)) {
    seed.push_back(SeedValue{std::move(value.key), std::move(value.name), value.type,
                             RegistryStringData(value.path)});
  }
  return seed;
}

std::shared_ptr<Hive> Hive::Get(const std::string& path, bool machine, uint32_t& error) {
  static std::mutex cacheMutex;
  static std::map<std::string, std::shared_ptr<Hive>> cache;
  std::lock_guard<std::mutex> lock(cacheMutex);
  auto cached = cache.find(path);
  if (cached != cache.end()) {
    error = kErrorSuccess;
    return cached->second;
  }
  std::shared_ptr<Hive> hive(new Hive(path, machine));
  {
    std::lock_guard<std::timed_mutex> hiveLock(hive->mutex_);
    error = hive->Initialise();
  }
  if (error != kErrorSuccess) return nullptr;
  cache.emplace(path, hive);
  return hive;
}

Hive::Hive(std::string path, bool machine) : path_(std::move(path)), machine_(machine) {}

Hive::~Hive() {
  if (db_ != nullptr && pid_ == getpid()) sqlite3_close(db_);
}

sqlite3* Hive::Connection(uint32_t& error) {
  error = kErrorSuccess;
  if (db_ != nullptr && pid_ == getpid()) return db_;
  // A connection inherited across fork must not be used or closed by the child: leave it be.
  db_ = nullptr;
  error = Connect();
  return db_;
}

uint32_t Hive::Connect() {
  bool exists = FileExists(path_);
  if (!exists) {
    EnsureDirectory(ParentDirectory(path_), machine_ ? (InSandbox() ? 0777 : 0755) : 0700);
  }
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(path_.c_str(), &db,
                           SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    sqlite3_close(db);
    db = nullptr;
    rc = sqlite3_open_v2(path_.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
  }
  if (rc != SQLITE_OK) {
    sqlite3_close(db);
    return exists ? kErrorAccessDenied : kErrorFileNotFound;
  }
  ++writes_;  // a new connection (after a fork) starts its own data version count
  if (!exists) {
    // Others read the machine hive (and, in a sandbox, write it too); a user's hive is private.
    chmod(path_.c_str(), machine_ ? (InSandbox() ? 0666 : 0644) : 0600);
  }
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  sqlite3_exec(db, "PRAGMA foreign_keys = ON", nullptr, nullptr, nullptr);
  // A machine's hives must survive a power cut (each change waits for the disk); a sandbox's are
  // throwaway, and its tests and demo would otherwise spend milliseconds on every change.
  if (InSandbox()) sqlite3_exec(db, "PRAGMA synchronous = OFF", nullptr, nullptr, nullptr);
  // A rollback journal lets a reader without write access read the hive.
  sqlite3_exec(db, "PRAGMA journal_mode = DELETE", nullptr, nullptr, nullptr);
  db_ = db;
  pid_ = getpid();
  return kErrorSuccess;
}

uint32_t Hive::Initialise() {
  uint32_t error = kErrorSuccess;
  sqlite3* db = Connection(error);
  if (db == nullptr) return error;
  auto hasSchema = [db]() {
    Statement query(db, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'keys'");
    return query.Step() == SQLITE_ROW;
  };
  if (hasSchema()) return kErrorSuccess;
  if (sqlite3_db_readonly(db, "main") == 1) return kErrorFileNotFound;
  Transaction transaction(db, Transaction::kWrite);
  if (transaction.Error() != kErrorSuccess) return transaction.Error();
  if (hasSchema()) return transaction.Commit();  // another process made it meanwhile
  error = ErrorFromSqlite(sqlite3_exec(db, kSchema, nullptr, nullptr, nullptr));
  if (error == kErrorSuccess) error = FillNew(db, kRootKey, ShellFolderSeed(machine_));
  return error == kErrorSuccess ? transaction.Commit() : error;
}

uint32_t Hive::CheckWritable() {
  bool joined = false;
  uint32_t error = Enter(joined);
  if (error != kErrorSuccess) return error;
  error = CheckWritableLocked();
  Leave(joined);
  return error;
}

uint32_t Hive::CheckWritableLocked() {
  if (machine_ && (!InSandbox() || gMachineRootOnlyInSandbox) && geteuid() != 0) {
    return kErrorAccessDenied;
  }
  uint32_t error = kErrorSuccess;
  sqlite3* db = Connection(error);
  if (db == nullptr) return error;
  return sqlite3_db_readonly(db, "main") == 1 ? kErrorAccessDenied : kErrorSuccess;
}

uint32_t Hive::Enter(bool& joined) {
  joined = tInTransaction;
  if (!joined) {
    mutex_.lock();
    return kErrorSuccess;
  }
  if (std::find(tJoined.begin(), tJoined.end(), this) != tJoined.end()) return kErrorSuccess;
  // Another thread's transaction may hold the hive: wait for it as long as for another process.
  if (!mutex_.try_lock_for(std::chrono::milliseconds(kBusyTimeoutMs))) return kErrorBusy;
  uint32_t error = kErrorSuccess;
  sqlite3* db = Connection(error);
  if (db != nullptr) {
    const char* begin = CheckWritableLocked() == kErrorSuccess ? "BEGIN IMMEDIATE" : "BEGIN";
    error = ErrorFromSqlite(sqlite3_exec(db, begin, nullptr, nullptr, nullptr));
  }
  if (error != kErrorSuccess) {
    mutex_.unlock();
    return error;
  }
  tJoined.push_back(this);
  return kErrorSuccess;
}

void Hive::Leave(bool joined) {
  if (!joined) mutex_.unlock();
}

uint32_t Hive::Finish(bool commit) {
  uint32_t error = kErrorSuccess;
  if (db_ != nullptr && pid_ == getpid()) {
    error = ErrorFromSqlite(sqlite3_exec(db_, commit ? "COMMIT" : "ROLLBACK", nullptr, nullptr, nullptr));
    // A COMMIT that failed leaves the transaction open.
    if (error != kErrorSuccess) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  ++writes_;
  mutex_.unlock();
  return error;
}

bool Hive::BeginThreadTransaction() {
  if (tInTransaction) return false;
  tInTransaction = true;
  tJoined.clear();
  return true;
}

uint32_t Hive::EndThreadTransaction(bool commit) {
  uint32_t error = kErrorSuccess;
  for (Hive* hive : tJoined) {
    uint32_t result = hive->Finish(commit && error == kErrorSuccess);
    if (commit && error == kErrorSuccess) error = result;
  }
  tJoined.clear();
  tInTransaction = false;
  return error;
}

template <typename Body>
uint32_t Hive::Run(bool write, Body&& body) {
  bool joined = false;
  uint32_t error = Enter(joined);
  if (error != kErrorSuccess) return error;
  error = write ? CheckWritableLocked() : kErrorSuccess;
  sqlite3* db = error == kErrorSuccess ? Connection(error) : nullptr;
  if (db != nullptr) {
    Transaction transaction(db, joined  ? Transaction::kSavepoint
                                : write ? Transaction::kWrite
                                        : Transaction::kRead);
    error = transaction.Error();
    if (error == kErrorSuccess) error = body(db);
    if (error == kErrorSuccess) error = transaction.Commit();
    if (write) ++writes_;
  }
  Leave(joined);
  return error;
}

uint32_t Hive::Find(int64_t from, const std::vector<std::string_view>& parts, KeyPath& found) {
  return Run(false, [&](sqlite3* db) {
    bool created = false;
    return Walk(db, from, parts, false, found, created);
  });
}

uint32_t Hive::Create(int64_t from, const std::vector<std::string_view>& parts, KeyPath& found,
                      bool& created, const std::vector<SeedValue>& seed) {
  return Run(true, [&](sqlite3* db) {
    uint32_t error = Walk(db, from, parts, true, found, created);
    if (error == kErrorSuccess && created && !seed.empty()) error = FillNew(db, found.id, seed);
    return error;
  });
}

uint32_t Hive::GetValue(int64_t key, std::string_view name, RegistryValue& value) {
  return Run(false, [&](sqlite3* db) {
    uint32_t error = KeyExists(db, key);
    if (error != kErrorSuccess) return error;
    Statement query(db, "SELECT name, type, data FROM vals WHERE key = ? AND name = ?");
    int rc = query.Bind(key).Bind(name).Step();
    if (rc == SQLITE_DONE) return static_cast<uint32_t>(kErrorFileNotFound);
    if (rc != SQLITE_ROW) return ErrorFromSqlite(rc);
    value.name = query.Text(0);
    value.type = static_cast<uint32_t>(query.Int(1));
    value.data = query.Blob(2);
    return static_cast<uint32_t>(kErrorSuccess);
  });
}

uint32_t Hive::SetValue(int64_t key, std::string_view name, uint32_t type, const void* data,
                        uint32_t size) {
  return Run(true, [&](sqlite3* db) {
    uint32_t error = KeyExists(db, key);
    return error != kErrorSuccess ? error : StoreValue(db, key, name, type, data, size);
  });
}

uint32_t Hive::DeleteValue(int64_t key, std::string_view name) {
  return Run(true, [&](sqlite3* db) {
    uint32_t error = KeyExists(db, key);
    if (error != kErrorSuccess) return error;
    Statement remove(db, "DELETE FROM vals WHERE key = ? AND name = ?");
    error = remove.Bind(key).Bind(name).Run();
    if (error == kErrorSuccess && sqlite3_changes(db) == 0) error = kErrorFileNotFound;
    return error;
  });
}

uint32_t Hive::SubKeyNames(int64_t key, std::vector<std::string>& names) {
  return Run(false, [&](sqlite3* db) {
    uint32_t error = KeyExists(db, key);
    if (error != kErrorSuccess) return error;
    // Windows lists subkeys by their upper-case names.
    Statement query(db, "SELECT name FROM keys WHERE parent = ? ORDER BY upper(name), name");
    query.Bind(key);
    int rc;
    while ((rc = query.Step()) == SQLITE_ROW) names.push_back(query.Text(0));
    return ErrorFromSqlite(rc);
  });
}

uint32_t Hive::Values(int64_t key, std::vector<RegistryValue>& values) {
  return Run(false, [&](sqlite3* db) {
    uint32_t error = KeyExists(db, key);
    if (error != kErrorSuccess) return error;
    Statement query(db, "SELECT name, type, data FROM vals WHERE key = ? ORDER BY id");
    query.Bind(key);
    int rc;
    while ((rc = query.Step()) == SQLITE_ROW) {
      values.push_back(
          RegistryValue{query.Text(0), static_cast<uint32_t>(query.Int(1)), query.Blob(2)});
    }
    return ErrorFromSqlite(rc);
  });
}

uint32_t Hive::Version(HiveVersion& version) {
  bool joined = false;
  uint32_t error = Enter(joined);
  if (error != kErrorSuccess) return error;
  sqlite3* db = Connection(error);
  if (db != nullptr) {
    Statement query(db, "PRAGMA data_version");
    int rc = query.Step();
    error = rc == SQLITE_ROW ? kErrorSuccess : ErrorFromSqlite(rc == SQLITE_DONE ? SQLITE_ERROR : rc);
    version = HiveVersion{query.Int(0), writes_};
  }
  Leave(joined);
  return error;
}

uint32_t Hive::DeleteKey(int64_t parent, const std::vector<std::string_view>& parts, bool tree) {
  return Run(true, [&](sqlite3* db) {
    KeyPath target;
    bool created = false;
    uint32_t error = Walk(db, parent, parts, false, target, created);
    if (error != kErrorSuccess) return error;
    if (parts.empty() && tree) return DeleteSubtree(db, target.id, true);
    if (target.id == kRootKey) return static_cast<uint32_t>(kErrorAccessDenied);
    if (!tree) {
      Statement children(db, "SELECT 1 FROM keys WHERE parent = ? LIMIT 1");
      int rc = children.Bind(target.id).Step();
      if (rc == SQLITE_ROW) return static_cast<uint32_t>(kErrorAccessDenied);
      if (rc != SQLITE_DONE) return ErrorFromSqlite(rc);
    }
    return DeleteSubtree(db, target.id, false);
  });
}

}  // namespace registry_detail
}  // namespace platform
