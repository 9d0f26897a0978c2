#include "platform/registry.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <unordered_set>

#include "platform/errors.h"
#include "platform/locations.h"
#include "platform/sandbox.h"
#include "registry_hive.h"

namespace platform {

using registry_detail::Hive;
using registry_detail::HiveVersion;
using registry_detail::KeyPath;
using registry_detail::SameName;

// Where an open key lives. A key of the merged classes view may live in two hives.
struct RegistryKey::Location {
  std::shared_ptr<Hive> hive;
  int64_t key = 0;
  bool user = false;  // the user's side of the classes view
};

// What an open key read of itself, and the hives' versions it was read at (one per location).
struct RegistryKey::Listing {
  std::mutex mutex;
  std::vector<HiveVersion> valuesRead;  // empty: not read
  std::vector<HiveVersion> subKeysRead;
  std::vector<RegistryValue> values;
  std::vector<std::string> subKeys;
};

namespace {

using Location = RegistryKey::Location;

constexpr uint32_t kWriteRights = kKeySetValue | kKeyCreateSubKey | kKeyCreateLink |
                                  kAccessDelete | kAccessWriteDac | kAccessWriteOwner;
constexpr std::string_view kClassesKey = "Software\\Classes";
// The system account's per-user keys, inside the machine hive.
constexpr std::string_view kSystemUserKey = "users\\SYSTEM";

uint32_t NormaliseAccess(uint32_t access) {
  uint32_t generic = kGenericRead | kGenericWrite | kGenericExecute | kGenericAll;
  uint32_t result = access & ~(generic | kKeyWow64Flags);
  if ((access & (kGenericRead | kGenericExecute)) != 0) result |= kKeyRead;
  if ((access & kGenericWrite) != 0) result |= kKeyWrite;
  if ((access & kGenericAll) != 0) result |= kKeyAllAccess;
  return result;
}

uint32_t Find(const Location& from, std::string_view path, KeyPath& found) {
  std::vector<std::string_view> parts;
  uint32_t error = registry_detail::SplitKeyPath(path, parts);
  return error != kErrorSuccess ? error : from.hive->Find(from.key, parts, found);
}

uint32_t MachineRoot(Location& location) {
  uint32_t error = kErrorSuccess;
  location.hive = Hive::Get(MachineHivePath(), true, error);
  location.key = Hive::kRootKey;
  return error;
}

// The process user's root: their own hive, or for the system account a key of the machine hive
// that, like a new hive, starts with the shell folders.
uint32_t UserRoot(Location& location) {
  uint32_t error = kErrorSuccess;
  if (!SameName(ProcessUserName(), kSystemAccountName)) {
    location.hive = Hive::Get(UserHivePath(), false, error);
    location.key = Hive::kRootKey;
    return error;
  }
  error = MachineRoot(location);
  if (error != kErrorSuccess) return error;
  KeyPath found;
  error = Find(location, kSystemUserKey, found);
  if (error == kErrorFileNotFound && location.hive->CheckWritable() == kErrorSuccess) {
    std::vector<std::string_view> parts;
    registry_detail::SplitKeyPath(kSystemUserKey, parts);
    bool created = false;
    error = location.hive->Create(Hive::kRootKey, parts, found, created,
                                  registry_detail::ShellFolderSeed(false));
  }
  location.key = found.id;
  return error;
}

uint32_t RootLocations(uint32_t root, std::vector<Location>& locations) {
  Location location;
  uint32_t error = kErrorInvalidHandle;
  if (root == kHkeyLocalMachine) error = MachineRoot(location);
  if (root == kHkeyCurrentUser) error = UserRoot(location);
  if (error == kErrorSuccess) {
    locations.push_back(location);
    return error;
  }
  if (root != kHkeyClassesRoot) return error;
  // The classes view: the user's "Software\Classes" first, then the machine's.
  for (bool user : {true, false}) {
    Location side;
    KeyPath found;
    if ((user ? UserRoot(side) : MachineRoot(side)) != kErrorSuccess) continue;
    if (Find(side, kClassesKey, found) != kErrorSuccess) continue;
    locations.push_back(Location{side.hive, found.id, user});
  }
  return locations.empty() ? static_cast<uint32_t>(kErrorFileNotFound) : kErrorSuccess;
}

// Windows' order of subkeys: by upper-case name.
bool SubKeyOrder(const std::string& a, const std::string& b) {
  auto upper = [](std::string text) {
    for (char& c : text) {
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
  };
  std::string x = upper(a);
  std::string y = upper(b);
  return x != y ? x < y : a < b;
}

std::string Lowered(std::string_view name) {
  std::string lowered(name);
  for (char& c : lowered) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lowered;
}

uint32_t CopyOut(const RegistryValue& value, uint32_t* type, void* data, uint32_t* size) {
  uint32_t needed = static_cast<uint32_t>(value.data.size());
  if (type != nullptr) *type = value.type;
  if (data != nullptr) {
    if (size == nullptr) return kErrorInvalidParameter;
    if (*size < needed) {
      *size = needed;
      return kErrorMoreData;
    }
    if (needed > 0) std::memcpy(data, value.data.data(), needed);
  }
  if (size != nullptr) *size = needed;
  return kErrorSuccess;
}

}  // namespace

RegistryKey::RegistryKey() = default;
RegistryKey::~RegistryKey() = default;

RegistryKey::RegistryKey(RegistryKey&& other) noexcept { *this = std::move(other); }

RegistryKey& RegistryKey::operator=(RegistryKey&& other) noexcept {
  if (this != &other) {
    locations_ = std::move(other.locations_);
    path_ = std::move(other.path_);
    access_ = other.access_;
    listing_ = std::move(other.listing_);
    other.Close();
  }
  return *this;
}

void RegistryKey::Close() {
  locations_.clear();
  path_.clear();
  access_ = 0;
  listing_.reset();
}

bool RegistryKey::IsOpen() const { return !locations_.empty(); }

uint32_t RegistryKey::Check(uint32_t needed) const {
  if (!IsOpen()) return kErrorInvalidHandle;
  return (access_ & needed) == needed ? kErrorSuccess : kErrorAccessDenied;
}

uint32_t RegistryKey::Open(uint32_t root, std::string_view subKey, uint32_t access) {
  return FromRoot(root, subKey, access, false, nullptr);
}

uint32_t RegistryKey::Open(const RegistryKey& parent, std::string_view subKey, uint32_t access) {
  if (!parent.IsOpen()) return kErrorInvalidHandle;
  return OpenFrom(parent.locations_, parent.path_, subKey, access, false, nullptr);
}

uint32_t RegistryKey::Create(uint32_t root, std::string_view subKey, uint32_t access,
                             bool* created) {
  return FromRoot(root, subKey, access, true, created);
}

uint32_t RegistryKey::FromRoot(uint32_t root, std::string_view subKey, uint32_t access,
                               bool create, bool* created) {
  std::vector<Location> base;
  uint32_t error = RootLocations(root, base);
  if (error != kErrorSuccess) {
    Close();
    return error;
  }
  return OpenFrom(std::move(base), PredefinedKeyName(root), subKey, access, create, created);
}

uint32_t RegistryKey::Create(const RegistryKey& parent, std::string_view subKey, uint32_t access,
                             bool* created) {
  uint32_t error = parent.Check(kKeyCreateSubKey);
  if (error != kErrorSuccess) return error;
  return OpenFrom(parent.locations_, parent.path_, subKey, access, true, created);
}

uint32_t RegistryKey::OpenFrom(std::vector<Location> base, std::string basePath,
                               std::string_view subKey, uint32_t access, bool create,
                               bool* created) {
  Close();
  if (created != nullptr) *created = false;
  std::vector<Location> found;
  std::string storedPath;
  uint32_t error = kErrorFileNotFound;
  for (const Location& location : base) {
    KeyPath key;
    uint32_t result = Find(location, subKey, key);
    if (result == kErrorSuccess) {
      if (found.empty()) storedPath = key.storedPath;
      found.push_back(Location{location.hive, key.id, location.user});
    } else if (result != kErrorFileNotFound) {
      error = result;
    }
  }
  if (found.empty() && create) {
    // A new key of the classes view goes to the machine's side unless only the user's has
    // the parent.
    auto target = std::find_if(base.begin(), base.end(), [](const Location& l) { return !l.user; });
    const Location& where = target != base.end() ? *target : base.front();
    std::vector<std::string_view> parts;
    KeyPath key;
    bool made = false;
    error = registry_detail::SplitKeyPath(subKey, parts);
    if (error == kErrorSuccess) error = where.hive->Create(where.key, parts, key, made);
    if (error != kErrorSuccess) return error;
    found.push_back(Location{where.hive, key.id, where.user});
    storedPath = key.storedPath;
    if (created != nullptr) *created = made;
  }
  if (found.empty()) return error;

  access = NormaliseAccess(access);
  bool writable = found.front().hive->CheckWritable() == kErrorSuccess;
  if ((access & kMaximumAllowed) != 0) {
    access = (access & ~kMaximumAllowed) | kKeyAllAccess;
    if (!writable) access &= ~kWriteRights;
  } else if (!writable && (access & kWriteRights) != 0) {
    return kErrorAccessDenied;
  }
  locations_ = std::move(found);
  path_ = storedPath.empty() ? std::move(basePath) : basePath + "\\" + storedPath;
  access_ = access;
  listing_ = std::make_unique<Listing>();
  return kErrorSuccess;
}

uint32_t RegistryKey::QueryValue(std::string_view name, RegistryValue& value) const {
  uint32_t error = Check(kKeyQueryValue);
  if (error != kErrorSuccess) return error;
  for (const Location& location : locations_) {
    error = location.hive->GetValue(location.key, name, value);
    if (error != kErrorFileNotFound) return error;
  }
  return error;
}

uint32_t RegistryKey::QueryValue(std::string_view name, uint32_t* type, void* data,
                                 uint32_t* size) const {
  RegistryValue value;
  uint32_t error = QueryValue(name, value);
  return error != kErrorSuccess ? error : CopyOut(value, type, data, size);
}

uint32_t RegistryKey::SetValue(std::string_view name, uint32_t type, const void* data,
                               uint32_t size) {
  uint32_t error = Check(kKeySetValue);
  if (error != kErrorSuccess) return error;
  if (data == nullptr && size != 0) return kErrorInvalidParameter;
  // Writes go to the user's side of the classes view when the key exists there.
  const Location& target = locations_.front();
  return target.hive->SetValue(target.key, name, type, data, size);
}

uint32_t RegistryKey::SetString(std::string_view name, std::string_view text, uint32_t type) {
  std::vector<uint8_t> data = RegistryStringData(text);
  return SetValue(name, type, data.data(), static_cast<uint32_t>(data.size()));
}

uint32_t RegistryKey::SetDword(std::string_view name, uint32_t value) {
  std::vector<uint8_t> data = RegistryDwordData(value);
  return SetValue(name, kRegDword, data.data(), static_cast<uint32_t>(data.size()));
}

uint32_t RegistryKey::DeleteValue(std::string_view name) {
  uint32_t error = Check(kKeySetValue);
  if (error != kErrorSuccess) return error;
  for (const Location& location : locations_) {
    error = location.hive->DeleteValue(location.key, name);
    if (error != kErrorFileNotFound) return error;
  }
  return error;
}

uint32_t RegistryKey::Snapshot(bool values, bool subKeys) const {
  std::vector<HiveVersion> now(locations_.size());
  uint32_t error = kErrorSuccess;
  for (size_t i = 0; i < locations_.size() && error == kErrorSuccess; ++i) {
    error = locations_[i].hive->Version(now[i]);
  }
  if (error != kErrorSuccess) return error;
  Listing& listing = *listing_;
  if (values && listing.valuesRead != now) {
    listing.valuesRead.clear();
    listing.values.clear();
    // The user's side hides the machine's values of the same name.
    std::unordered_set<std::string> seen;
    for (const Location& location : locations_) {
      std::vector<RegistryValue> more;
      error = location.hive->Values(location.key, more);
      if (error != kErrorSuccess) return error;
      for (RegistryValue& value : more) {
        if (seen.insert(Lowered(value.name)).second) listing.values.push_back(std::move(value));
      }
    }
    listing.valuesRead = now;
  }
  if (subKeys && listing.subKeysRead != now) {
    listing.subKeysRead.clear();
    listing.subKeys.clear();
    for (const Location& location : locations_) {
      error = location.hive->SubKeyNames(location.key, listing.subKeys);
      if (error != kErrorSuccess) return error;
    }
    std::vector<std::string>& names = listing.subKeys;
    if (locations_.size() > 1) {
      std::stable_sort(names.begin(), names.end(), SubKeyOrder);
      names.erase(std::unique(names.begin(), names.end(), SameName), names.end());
    }
    listing.subKeysRead = now;
  }
  return kErrorSuccess;
}

uint32_t RegistryKey::EnumKey(uint32_t index, std::string& name) const {
  uint32_t error = Check(kKeyEnumerateSubKeys);
  if (error != kErrorSuccess) return error;
  std::lock_guard<std::mutex> lock(listing_->mutex);
  error = Snapshot(false, true);
  if (error != kErrorSuccess) return error;
  if (index >= listing_->subKeys.size()) return kErrorNoMoreItems;
  name = listing_->subKeys[index];
  return kErrorSuccess;
}

uint32_t RegistryKey::EnumValue(uint32_t index, RegistryValue& value) const {
  uint32_t error = Check(kKeyQueryValue);
  if (error != kErrorSuccess) return error;
  std::lock_guard<std::mutex> lock(listing_->mutex);
  error = Snapshot(true, false);
  if (error != kErrorSuccess) return error;
  if (index >= listing_->values.size()) return kErrorNoMoreItems;
  value = listing_->values[index];
  return kErrorSuccess;
}

uint32_t RegistryKey::EnumValue(uint32_t index, std::string& name, uint32_t* type, void* data,
                                uint32_t* size) const {
  RegistryValue value;
  uint32_t error = EnumValue(index, value);
  if (error != kErrorSuccess) return error;
  name = value.name;
  return CopyOut(value, type, data, size);
}

uint32_t RegistryKey::QueryInfo(RegistryKeyInfo& info) const {
  info = RegistryKeyInfo{};
  uint32_t error = Check(kKeyQueryValue | kKeyEnumerateSubKeys);
  if (error != kErrorSuccess) return error;
  std::lock_guard<std::mutex> lock(listing_->mutex);
  error = Snapshot(true, true);
  if (error != kErrorSuccess) return error;
  auto size = [](size_t n) { return static_cast<uint32_t>(n); };
  info.subKeys = size(listing_->subKeys.size());
  for (const std::string& name : listing_->subKeys) {
    info.maxSubKeyLength = std::max(info.maxSubKeyLength, size(name.size()));
  }
  info.values = size(listing_->values.size());
  for (const RegistryValue& value : listing_->values) {
    info.maxValueNameLength = std::max(info.maxValueNameLength, size(value.name.size()));
    info.maxValueLength = std::max(info.maxValueLength, size(value.data.size()));
  }
  return kErrorSuccess;
}

uint32_t RegistryKey::DeleteKey(std::string_view subKey) { return DeleteSubKey(subKey, false); }

uint32_t RegistryKey::DeleteTree(std::string_view subKey) {
  uint32_t error = Check(kAccessDelete | kKeyEnumerateSubKeys | kKeyQueryValue);
  return error != kErrorSuccess ? error : DeleteSubKey(subKey, true);
}

uint32_t RegistryKey::DeleteSubKey(std::string_view subKey, bool tree) {
  if (!IsOpen()) return kErrorInvalidHandle;
  std::vector<std::string_view> parts;
  uint32_t error = registry_detail::SplitKeyPath(subKey, parts);
  if (error != kErrorSuccess) return error;
  for (const Location& location : locations_) {
    error = location.hive->DeleteKey(location.key, parts, tree);
    if (error != kErrorFileNotFound) return error;
  }
  return error;
}

RegistryTransaction::RegistryTransaction() : outer_(Hive::BeginThreadTransaction()) {}

RegistryTransaction::~RegistryTransaction() {
  if (outer_) Hive::EndThreadTransaction(false);
}

uint32_t RegistryTransaction::Commit() {
  if (!outer_) return kErrorSuccess;
  outer_ = false;
  return Hive::EndThreadTransaction(true);
}

}  // namespace platform
