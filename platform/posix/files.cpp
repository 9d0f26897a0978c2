#include "platform/files.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "platform/errors.h"
#include "unique_file.h"
#include "platform/sandbox.h"

namespace platform {
namespace {

// Seconds from 1601-01-01 to 1970-01-01.
constexpr uint64_t kEpochDifferenceSeconds = 11644473600ULL;
constexpr uint64_t kTicksPerSecond = 10000000ULL;

bool Fail() {
  SetLastErrorFromErrno();
  return false;
}

std::string WithTrailingSlash(std::string directory) {
  if (directory.empty()) directory = ".";
  if (directory.back() != '/') directory.push_back('/');
  return directory;
}

// Six random characters of [0-9a-z] for a unique file name.
std::string RandomSuffix() {
  static constexpr char kAlphabet[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  unsigned char bytes[6] = {};
  if (getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) {
    static std::atomic<unsigned> counter{0};
    unsigned seed = static_cast<unsigned>(getpid()) ^ static_cast<unsigned>(time(nullptr)) ^
                    (counter.fetch_add(1) * 2654435761u);
    for (unsigned char& b : bytes) b = static_cast<unsigned char>(rand_r(&seed));
  }
  std::string suffix;
  for (unsigned char b : bytes) suffix.push_back(kAlphabet[b % (sizeof kAlphabet - 1)]);
  return suffix;
}

// Copies the bytes of `source` into `target` (both open); false with errno set on failure.
bool CopyBytes(int source, int target) {
  char buffer[65536];
  for (;;) {
    const ssize_t got = read(source, buffer, sizeof buffer);
    if (got == 0) return true;
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (!WriteAll(target, buffer, static_cast<size_t>(got))) return false;
  }
}

}  // namespace

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t written = write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

// Opens a new file prefix + random characters in `directory` (O_EXCL, retried on a clash).
int OpenUniqueFile(const std::string& directory, const std::string& prefix, mode_t mode,
                   std::string& path) {
  const std::string base = WithTrailingSlash(directory) + prefix;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string candidate = base + RandomSuffix() + ".tmp";
    int fd = open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
    if (fd >= 0) {
      path = std::move(candidate);
      return fd;
    }
    if (errno != EEXIST) break;
  }
  // Creating a file cannot miss the file itself: a missing entry is the directory.
  if (errno == ENOENT) {
    SetLastError(kErrorPathNotFound);
  } else {
    SetLastErrorFromErrno();
  }
  return -1;
}

bool CreateTempFile(const std::string& directory, const std::string& prefix, std::string& path) {
  const int fd = OpenUniqueFile(directory, prefix, 0600, path);
  if (fd < 0) return false;
  close(fd);
  return true;
}

std::string TempDirectory() {
  const std::string root = SandboxRoot();
  if (!root.empty()) {
    EnsureDirectory(root + "/tmp", 0700);
    return root + "/tmp/";
  }
  const char* tmpdir = std::getenv("TMPDIR");
  if (tmpdir != nullptr && *tmpdir != '\0') return WithTrailingSlash(tmpdir);
  return "/tmp/";
}

bool ReplaceFile(const std::string& from, const std::string& to) {
  return rename(from.c_str(), to.c_str()) == 0 || Fail();
}

bool MoveFile(const std::string& from, const std::string& to) {
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno == EINVAL || errno == ENOSYS) {  // a file system without no-replace renames
    struct stat info {};
    if (lstat(to.c_str(), &info) == 0) {
      errno = EEXIST;
    } else if (rename(from.c_str(), to.c_str()) == 0) {
      return true;
    }
  }
  if (errno == EEXIST) {
    SetLastError(kErrorAlreadyExists);
    return false;
  }
  if (errno == EXDEV && !IsDirectory(from)) {
    return CopyFileReplace(from, to) && DeleteFile(from);
  }
  return Fail();
}

bool DeleteFile(const std::string& path) { return unlink(path.c_str()) == 0 || Fail(); }

bool PathExists(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 || Fail();
}

bool IsDirectory(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return Fail();
  return S_ISDIR(info.st_mode);
}

bool GetFileSize(const std::string& path, uint64_t& size) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return Fail();
  size = static_cast<uint64_t>(info.st_size);
  return true;
}

bool GetLastWriteTime(const std::string& path, uint64_t& fileTime) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return Fail();
  fileTime =
      (static_cast<uint64_t>(info.st_mtim.tv_sec) + kEpochDifferenceSeconds) * kTicksPerSecond +
      static_cast<uint64_t>(info.st_mtim.tv_nsec) / 100;
  return true;
}

bool SetLastWriteTime(const std::string& path, uint64_t fileTime) {
  const uint64_t unixTicks = fileTime - kEpochDifferenceSeconds * kTicksPerSecond;
  struct timespec times[2] = {};
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = static_cast<time_t>(unixTicks / kTicksPerSecond);
  times[1].tv_nsec = static_cast<long>(unixTicks % kTicksPerSecond) * 100;
  return utimensat(AT_FDCWD, path.c_str(), times, 0) == 0 || Fail();
}

bool CopyFileReplace(const std::string& from, const std::string& to) {
  const int source = open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (source < 0) return Fail();
  struct stat sourceInfo {};
  fstat(source, &sourceInfo);
  std::string temp;
  const int target = OpenUniqueFile(DirectoryOf(to), "_tu", 0666, temp);
  if (target < 0) {
    close(source);
    return false;
  }
  // The replaced file keeps its permissions; a new one gets the creator's default.
  struct stat targetInfo {};
  if (stat(to.c_str(), &targetInfo) == 0) fchmod(target, targetInfo.st_mode & 07777);
  bool ok = CopyBytes(source, target) && fsync(target) == 0;
  if (ok) {
    const struct timespec times[2] = {sourceInfo.st_atim, sourceInfo.st_mtim};
    futimens(target, times);
  }
  if (!ok) SetLastErrorFromErrno();
  close(source);
  if (close(target) != 0 && ok) ok = Fail();
  if (ok && rename(temp.c_str(), to.c_str()) != 0) ok = Fail();
  if (!ok) unlink(temp.c_str());
  return ok;
}

std::string DirectoryOf(const std::string& path) {
  const std::string::size_type slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace platform
