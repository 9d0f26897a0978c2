#include "platform/sandbox.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "platform/errors.h"

namespace platform {

bool InSandbox() { return !SandboxRoot().empty(); }

std::string SandboxRoot() {
  const char* root = std::getenv("NOLT_ROOT");
  if (root == nullptr || *root == '\0') return {};
  std::string path = root;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::string ProcessUserName() {
  if (InSandbox()) {
    const char* user = std::getenv("NOLT_USER");
    if (user != nullptr && *user != '\0') return user;
  }
  uid_t uid = geteuid();
  if (uid == 0) return kSystemAccountName;
  struct passwd entry {};
  struct passwd* found = nullptr;
  char buffer[1024];
  if (getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr) {
    return found->pw_name;
  }
  return "uid" + std::to_string(uid);
}

bool EnsureDirectory(const std::string& path, unsigned mode) {
  if (path.empty()) return false;
  struct stat info {};
  if (stat(path.c_str(), &info) == 0) return S_ISDIR(info.st_mode);
  std::string::size_type slash = path.find_last_of('/');
  if (slash != std::string::npos && slash > 0 && !EnsureDirectory(path.substr(0, slash), 0755)) {
    return false;
  }
  if (mkdir(path.c_str(), mode) != 0 && errno != EEXIST) return false;
  chmod(path.c_str(), mode);  // the umask must not decide
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

namespace {

// A named-object directory we may trust: a real directory (no link) owned by one of the given
// accounts; world-writable only with the sticky bit. A private one is kept at 0700.
bool TrustedDirectory(const std::string& path, uid_t owner, uid_t otherOwner, bool isPrivate) {
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return false;
  if (info.st_uid != owner && info.st_uid != otherOwner) return false;
  if (isPrivate) return (info.st_mode & 077) == 0 || chmod(path.c_str(), 0700) == 0;
  return (info.st_mode & S_IWOTH) == 0 || (info.st_mode & S_ISVTX) != 0;
}

// Makes the directory when missing (0700 when private, else 1777) and checks it.
std::string UsableDirectory(const std::string& path, bool isPrivate, uid_t owner,
                            uid_t otherOwner) {
  if (!EnsureDirectory(path, isPrivate ? 0700 : 01777)) {
    SetLastError(kErrorPathNotFound);
    return {};
  }
  if (!TrustedDirectory(path, owner, otherOwner, isPrivate)) {
    SetLastError(kErrorAccessDenied);
    return {};
  }
  return path;
}

uid_t OwnerOf(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 ? info.st_uid : 0;
}

}  // namespace

bool IsGlobalObjectCreator(unsigned uid) {
  if (uid == 0) return true;
  std::string root = SandboxRoot();
  return !root.empty() && uid == OwnerOf(root);
}

std::string NamedObjectDirectory(bool global) {
  std::string root = SandboxRoot();
  const uid_t self = geteuid();
  if (!root.empty()) {
    // Every account of the sandbox makes its own directories under objects/.
    EnsureDirectory(root + "/objects", 01777);
    if (global) return UsableDirectory(root + "/objects/global", false, 0, OwnerOf(root));
    return UsableDirectory(root + "/objects/u" + std::to_string(self), true, self, self);
  }
  // Root makes the Global directory at boot; nobody else may own it.
  if (global) return UsableDirectory("/run/tidesync/objects", false, 0, 0);
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && *runtime != '\0') {
    return UsableDirectory(std::string(runtime) + "/tidesync/objects", true, self, self);
  }
  std::string fallback = "/tmp/tidesync-" + std::to_string(self);
  if (UsableDirectory(fallback, true, self, self).empty()) return {};
  return UsableDirectory(fallback + "/objects", true, self, self);
}

}  // namespace platform
