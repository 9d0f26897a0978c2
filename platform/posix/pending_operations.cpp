#include "platform/pending_operations.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string_view>

#include "platform/errors.h"
#include "platform/files.h"
#include "platform/locations.h"
#include "platform/sandbox.h"

namespace platform {
namespace {

constexpr std::string_view kDelete = "delete";
constexpr std::string_view kReplace = "replace";

bool Fail() {
  SetLastErrorFromErrno();
  return false;
}

bool UsablePath(const std::string& path) {
  if (path.empty() || path.find_first_of("\t\r\n") != std::string::npos) {
    SetLastError(kErrorInvalidName);
    return false;
  }
  return true;
}

// One line in one write on an O_APPEND descriptor, so that concurrent writers never interleave.
bool AppendLine(const std::string& line) {
  const std::string list = PendingOperationsPath();
  EnsureDirectory(DirectoryOf(list), 0755);
  const int fd = open(list.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return Fail();
  const ssize_t written = write(fd, line.data(), line.size());
  bool ok = written == static_cast<ssize_t>(line.size()) || Fail();
  if (close(fd) != 0 && ok) ok = Fail();
  return ok;
}

bool CarryOut(std::string_view line) {
  const size_t tab = line.find('\t');
  if (tab == std::string_view::npos) return false;
  const std::string_view verb = line.substr(0, tab);
  const std::string_view rest = line.substr(tab + 1);
  if (verb == kDelete) {
    const std::string path(rest);
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0) return errno == ENOENT;  // already gone
    return (S_ISDIR(info.st_mode) ? rmdir(path.c_str()) : unlink(path.c_str())) == 0;
  }
  if (verb == kReplace) {
    const size_t second = rest.find('\t');
    if (second == std::string_view::npos) return false;
    const std::string source(rest.substr(0, second));
    const std::string target(rest.substr(second + 1));
    return rename(source.c_str(), target.c_str()) == 0;
  }
  return false;
}

}  // namespace

bool ScheduleDeleteAtRestart(const std::string& path) {
  if (!UsablePath(path)) return false;
  return AppendLine(std::string(kDelete) + '\t' + path + '\n');
}

bool ScheduleReplaceAtRestart(const std::string& source, const std::string& target) {
  if (!UsablePath(source) || !UsablePath(target)) return false;
  return AppendLine(std::string(kReplace) + '\t' + source + '\t' + target + '\n');
}

bool RunPendingOperations(PendingOperationsOutcome& outcome) {
  outcome = {};
  const std::string list = PendingOperationsPath();
  const std::string taken = list + ".running";
  // A list left by an interrupted run is finished first; a fresh one is taken whole.
  struct stat info {};
  if (lstat(taken.c_str(), &info) != 0 && rename(list.c_str(), taken.c_str()) != 0) {
    if (errno == ENOENT) return true;
    return Fail();
  }
  FILE* file = std::fopen(taken.c_str(), "re");
  if (file == nullptr) return Fail();
  std::string line;
  for (int c = std::fgetc(file);; c = std::fgetc(file)) {
    if (c == EOF || c == '\n') {
      if (!line.empty()) ++(CarryOut(line) ? outcome.done : outcome.failed);
      line.clear();
      if (c == EOF) break;
    } else {
      line.push_back(static_cast<char>(c));
    }
  }
  std::fclose(file);
  unlink(taken.c_str());
  // An interrupted run's list may have hidden a newer one; that waits for the next start.
  return true;
}

}  // namespace platform
