#include "platform/log_file.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/errors.h"

namespace platform {
namespace {

// The group's id; false when the system has no group of that name.
bool FindGroup(const std::string& name, gid_t& id) {
  std::vector<char> buffer(16384);
  struct group entry {};
  struct group* found = nullptr;
  if (getgrnam_r(name.c_str(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
      found == nullptr) {
    return false;
  }
  id = found->gr_gid;
  return true;
}

}  // namespace

bool OpenLogFile(const std::string& path, unsigned mode, const std::string& group,
                 OpenedLogFile& opened) {
  opened = OpenedLogFile{};
  int fd = -1;
  // Made owner-only first: the group and the wider modes come once the group is right.
  for (int attempt = 0; attempt < 2 && fd < 0; ++attempt) {
    fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    opened.created = fd >= 0;
    if (fd < 0 && errno == EEXIST) fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0 && errno != ENOENT) break;  // ENOENT: removed in between, try again
  }
  if (fd < 0) {
    SetLastErrorFromErrno();
    return false;
  }
  if (opened.created) {
    gid_t groupId = 0;
    if (!group.empty() && FindGroup(group, groupId)) {
      // Refused unless root or a member: the file then keeps the process's group.
      const int refused = fchown(fd, static_cast<uid_t>(-1), groupId);
      static_cast<void>(refused);
    }
    fchmod(fd, static_cast<mode_t>(mode & 0777));
  }
  struct stat info {};
  if (fstat(fd, &info) == 0) opened.mode = info.st_mode & 07777;
  opened.file = fdopen(fd, "a");
  if (opened.file == nullptr) {
    SetLastErrorFromErrno();
    close(fd);
    return false;
  }
  return true;
}

}  // namespace platform
