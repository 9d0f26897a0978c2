#include "platform/identity.h"

#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utmpx.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <mutex>

#include "platform/errors.h"
#include "platform/sandbox.h"

namespace platform {
namespace {

// Reads the sandbox's session list: one name a line, a final line feed ends the last line.
bool ReadSessionFile(const std::string& path, std::vector<std::string>& names) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
    SetLastError(kErrorAccessDenied);
    return false;
  }
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    SetLastError(ErrorFromErrno(errno));
    return false;
  }
  std::string line;
  while (std::getline(file, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    names.push_back(line);
  }
  return !file.bad();
}

// The user-process records of utmp, each name once. The utmp functions keep one cursor per
// process, hence the lock.
bool ReadUtmpSessions(std::vector<std::string>& names) {
  static std::mutex utmpLock;
  std::lock_guard lock(utmpLock);
  setutxent();
  while (const utmpx* entry = getutxent()) {
    if (entry->ut_type != USER_PROCESS) continue;
    std::string name(entry->ut_user, strnlen(entry->ut_user, sizeof entry->ut_user));
    if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
  }
  endutxent();
  return true;
}

}  // namespace

std::string ComputerName() {
  char name[HOST_NAME_MAX + 1] = {};
  if (gethostname(name, sizeof name - 1) != 0) return {};
  std::string host = name;
  return host.substr(0, host.find('.'));
}

std::string SessionListPath() {
  return InSandbox() ? SandboxRoot() + "/machine/sessions" : std::string();
}

bool LoggedOnUserNames(std::vector<std::string>& names) {
  names.clear();
  std::string sessionFile = SessionListPath();
  if (!sessionFile.empty() && access(sessionFile.c_str(), F_OK) == 0) {
    return ReadSessionFile(sessionFile, names);
  }
  return ReadUtmpSessions(names);
}

}  // namespace platform
