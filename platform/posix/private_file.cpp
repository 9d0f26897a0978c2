#include "platform/private_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/errors.h"
#include "platform/sandbox.h"
#include "unique_file.h"

namespace platform {
namespace {

bool Fail(uint32_t code) {
  SetLastError(code);
  return false;
}

bool FailFromErrno() {
  SetLastErrorFromErrno();
  return false;
}

std::string ParentOf(const std::string& path) {
  const std::string::size_type slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

// A real directory of this account that nobody else may change, so nobody can swap the file.
bool PrivateDirectory(const std::string& directory) {
  struct stat info {};
  if (lstat(directory.c_str(), &info) != 0) return FailFromErrno();
  if (!S_ISDIR(info.st_mode) || info.st_uid != geteuid() || (info.st_mode & 022) != 0) {
    return Fail(kErrorAccessDenied);
  }
  return true;
}

}  // namespace

bool ReadPrivateFile(const std::string& path, size_t maxSize, std::string& content) {
  content.clear();
  if (!PrivateDirectory(ParentOf(path))) return false;
  const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return FailFromErrno();  // a link gives ELOOP, which is 5
  struct stat info {};
  uint32_t error = kErrorSuccess;
  if (fstat(fd, &info) != 0) {
    error = ErrorFromErrno(errno);
  } else if (!S_ISREG(info.st_mode) || info.st_uid != geteuid() || (info.st_mode & 077) != 0) {
    error = kErrorAccessDenied;
  } else if (static_cast<uint64_t>(info.st_size) > maxSize) {
    error = kErrorInvalidData;
  }
  char buffer[256];
  while (error == kErrorSuccess) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got == 0) break;
    if (got < 0) {
      if (errno != EINTR) error = ErrorFromErrno(errno);
      continue;
    }
    content.append(buffer, static_cast<size_t>(got));
    if (content.size() > maxSize) error = kErrorInvalidData;  // grew since fstat
  }
  close(fd);
  if (error == kErrorSuccess) return true;
  content.clear();
  return Fail(error);
}

bool CreatePrivateFile(const std::string& path, const std::string& content) {
  const std::string directory = ParentOf(path);
  if (!EnsureDirectory(directory, 0700)) return Fail(kErrorPathNotFound);
  struct stat info {};
  if (lstat(directory.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == geteuid() &&
      (info.st_mode & 077) != 0) {
    chmod(directory.c_str(), 0700);  // an older or hand-made folder of ours
  }
  if (!PrivateDirectory(directory)) return false;
  std::string temp;
  const int fd = OpenUniqueFile(directory, ".new-", 0600, temp);
  if (fd < 0) return false;
  fchmod(fd, 0600);  // the umask must not decide
  const bool written = WriteAll(fd, content.data(), content.size()) && fsync(fd) == 0;
  const int writeErrno = errno;
  close(fd);
  // link, unlike rename, never replaces: the first process to publish its file wins.
  const bool linked = written && link(temp.c_str(), path.c_str()) == 0;
  const int linkErrno = errno;
  unlink(temp.c_str());
  if (!written) return Fail(ErrorFromErrno(writeErrno));
  if (!linked) return Fail(ErrorFromErrno(linkErrno));
  const int directoryFd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (directoryFd >= 0) {
    fsync(directoryFd);  // the new name survives a crash
    close(directoryFd);
  }
  return true;
}

}  // namespace platform
