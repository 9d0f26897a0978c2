#include "foundation/context/directory_layout.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "foundation/context/context_names.h"
#include "foundation/context/context_store.h"
#include "foundation/context/context_store_internal.h"
#include "foundation/context/system_folders.h"
#include "foundation/registry/provider_store.h"
#include "foundation/transfer/hx_remote_object.h"
#include "foundation/users/users.h"
#include "platform/files.h"
#include "platform/sandbox.h"

namespace names = context_names;

namespace {

struct Subdirectory {
  const char* name;
  const char* below;
};

// Below "DirUserServer".
constexpr Subdirectory kUserServerLayout[] = {
    {"DirUserServer", ""},
    {"DirUserExec", "exec\\"},
    {"DirPatch", "patches\\"},
    {"DirPatchOut", "state\\patchout\\"},
    {"DirContent", "data\\"},
    {"DirState", "state\\"},
    {"DirDna", "state\\dnaback\\"},
    {"DirDnaBackup", "state\\dnaback\\"},
    {"DirLogs", "state\\logs\\"},
    {"DirIssue", "state\\issues\\"},
    {"DirAsset", "state\\asset\\"},
    {"DirLastRun", "state\\lastrun\\"},
    {"DirZCatalog", "state\\zcat\\"},
    {"DirBackup", "state\\backup\\"},
};

// Below the program root.
constexpr Subdirectory kProgramLayout[] = {
    {"DirRoot", ""},           {"DirHelp", "help\\"},
    {"DirBin", "bin\\"},       {"DirFilter", "bin\\probeflt\\"},
    {"DirShared", "shared\\"}, {"DirVault", "vault\\"},
    {"DirPublish", "pub\\"},   {"DirScripts", "scripts\\"},
};

constexpr const char* kProfilesBelow = "Strovane\\Profiles\\";

template <size_t N>
const Subdirectory* FindIn(const Subdirectory (&layout)[N], std::string_view name) {
  for (const Subdirectory& entry : layout) {
    if (CompareNoCase(name, entry.name) == 0) return &entry;
  }
  return nullptr;
}

bool EndsInSeparator(std::string_view text) {
  return !text.empty() && (text.back() == '\\' || text.back() == '/');
}

// A path under `base`, which must be known.
bool Below(const HxStr& base, std::string_view below, HxStr& path) {
  if (base.IsEmpty()) return false;
  path = base + below;
  return true;
}

// folder\Strovane\Profiles\<name>\, with the fallback for an empty name; false without the folder.
bool ProfileDirectory(int folder, const HxStr& name, const HxStr& fallback, HxStr& path) {
  const HxStr base = GetSystemFolder(folder);
  if (base.IsEmpty()) return false;
  path = DirectoryPath(base, {kProfilesBelow, name.IsEmpty() ? fallback : name});
  return true;
}

// The former machine-wide profile when it exists, else the current one's "state\lastrun\".
bool SystemLastRun(HxStr& path) {
  const HxStr old = GetContextValue(names::kDirSysProfileOld);
  if (!old.IsEmpty() && platform::IsDirectory(LocalPath(old))) {
    path = old;
    return true;
  }
  return Below(GetContextValue(names::kDirSysProfile), "state\\lastrun\\", path);
}

bool FindDirectory(std::string_view name, HxStr& path) {
  if (const Subdirectory* entry = FindIn(kUserServerLayout, name)) {
    return Below(GetContextValue(names::kDirUserServer), entry->below, path);
  }
  if (CompareNoCase(name, "DirProfiles") == 0) {
    path = GetSystemFolder(kFolderProfiles);
    return !path.IsEmpty();
  }
  if (CompareNoCase(name, "AppDataUserEx ") == 0) {
    return ProfileDirectory(kFolderAppData, GetContextValue(names::kProviderId),
                            names::kDefaultProviderId, path);
  }
  if (CompareNoCase(name, "DirSysLastRun") == 0) return SystemLastRun(path);
  const HxStr root = ProgramRoot();
  if (const Subdirectory* entry = FindIn(kProgramLayout, name)) {
    return Below(root, entry->below, path);
  }
  if (root.IsEmpty() && CompareNoCase(name, "AppDataUser") == 0) {
    return ProfileDirectory(kFolderCommonAppData, GetContextValue(names::kUserName),
                            GetSystemAccountName(), path);
  }
  return Below(root, "", path);
}

std::string WithoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

HxStr EnvironmentTemp() {
  for (const char* variable : {"TMP", "TEMP"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && *value != '\0') return HxStr(value);
  }
  return HxStr();
}

HxStr ChooseTempRoot() {
  const std::string system = platform::TempDirectory();
  std::error_code error;
  const std::filesystem::path current = std::filesystem::current_path(error);
  if (error || WithoutTrailingSlash(system) != WithoutTrailingSlash(current.string())) {
    return HxStr(system);
  }
  HxStr environment = EnvironmentTemp();
  if (!environment.IsEmpty() && platform::IsDirectory(LocalPath(environment))) return environment;
  const HxStr root = ProgramRoot();
  return root.IsEmpty() ? HxStr(system) : root + "temp\\";
}

}  // namespace

std::string LocalPath(std::string_view text) { return std::string(ToLocalPath(text)); }

HxStr DirectoryPath(std::string_view base, std::initializer_list<std::string_view> parts) {
  HxStr path(base);
  if (!EndsInSeparator(path)) path += '\\';
  for (const std::string_view part : parts) {
    path += part;
    if (!EndsInSeparator(path)) path += '\\';
  }
  return path;
}

bool GetDirectory(std::string_view name, HxStr& path, bool create) {
  path.Empty();
  if (!FindDirectory(name, path)) {
    path.Empty();
    return false;
  }
  return !create || platform::EnsureDirectory(LocalPath(path));
}

HxStr ProgramRoot() {
  HxStr root;
  if (provider_store::ReadString("InstallPaths", "ProgramRoot", root, false) != 0 ||
      root.IsEmpty()) {
    return HxStr();
  }
  return DirectoryPath(root);
}

HxStr GetTempRoot() {
  HxStr root = GetContextValue(names::kTempRoot);
  if (root.IsEmpty()) {
    root = DirectoryPath(ChooseTempRoot());
    context_store::StoreReadContextValue(names::kTempRoot, root);
  }
  platform::EnsureDirectory(LocalPath(root));
  return root;
}
