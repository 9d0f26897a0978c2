#include "platform/file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/errors.h"
#include "unique_file.h"
#include "platform/files.h"

namespace platform {
namespace {

bool Fail() {
  SetLastErrorFromErrno();
  return false;
}

// A writer's temporary file is "_hx" + a tag of the target's name + "_" + a slot + ".tmp" beside
// the target, and the writer holds a lock on it for as long as it has it. So a later writer for
// the same target meets the file of a killed one under the same name, and removes it when
// nobody holds its lock.
constexpr int kWriterSlots = 8;

std::string WriterTempBase(const std::string& target) {
  uint32_t hash = 2166136261u;  // FNV-1a of the file name
  for (size_t i = target.find_last_of('/') + 1; i < target.size(); ++i) {
    hash = (hash ^ static_cast<unsigned char>(target[i])) * 16777619u;
  }
  char tag[16];
  std::snprintf(tag, sizeof tag, "%08x", static_cast<unsigned>(hash));
  return DirectoryOf(target) + "_hx" + tag + "_";
}

bool NamesOpenFile(const std::string& path, int fd) {
  struct stat named {};
  struct stat open {};
  return lstat(path.c_str(), &named) == 0 && fstat(fd, &open) == 0 &&
         named.st_dev == open.st_dev && named.st_ino == open.st_ino;
}

// Removes the file at `path` when no writer holds its lock: its writer is gone.
bool RemoveAbandoned(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat info {};
  const bool removed = fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
                       flock(fd, LOCK_EX | LOCK_NB) == 0 && NamesOpenFile(path, fd) &&
                       unlink(path.c_str()) == 0;
  close(fd);
  return removed;
}

// Creates `path` and takes its lock: the descriptor, -1 when the name is taken (`taken` set) or
// the file cannot be made (errno set).
int CreateLocked(const std::string& path, bool& taken) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  taken = fd < 0 && errno == EEXIST;
  if (fd < 0) return -1;
  // Another writer may have found the new file unlocked and removed it before the lock.
  if (flock(fd, LOCK_EX | LOCK_NB) == 0 && NamesOpenFile(path, fd)) return fd;
  close(fd);
  taken = true;
  return -1;
}

int OpenWriterTemp(const std::string& target, std::string& path) {
  const std::string base = WriterTempBase(target);
  for (int slot = 0; slot < kWriterSlots; ++slot) {
    const std::string candidate = base + std::to_string(slot) + ".tmp";
    bool taken = false;
    int fd = CreateLocked(candidate, taken);
    if (fd < 0 && taken && RemoveAbandoned(candidate)) fd = CreateLocked(candidate, taken);
    if (fd >= 0) {
      path = candidate;
      return fd;
    }
    if (!taken) {
      // Creating a file cannot miss the file itself: a missing entry is the directory.
      if (errno == ENOENT) {
        SetLastError(kErrorPathNotFound);
      } else {
        SetLastErrorFromErrno();
      }
      return -1;
    }
  }
  // As many writers of this target as slots are running: a name of its own.
  const int fd = OpenUniqueFile(DirectoryOf(target), "_hx", 0600, path);
  if (fd >= 0) flock(fd, LOCK_EX | LOCK_NB);
  return fd;
}

}  // namespace

bool IsReadOnly(const std::string& path, bool& readOnly) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return Fail();
  readOnly = (info.st_mode & S_IWUSR) == 0;
  return true;
}

bool SetReadOnly(const std::string& path, bool readOnly) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return Fail();
  mode_t mode = info.st_mode & 07777;
  mode = readOnly ? (mode & ~static_cast<mode_t>(S_IWUSR)) : (mode | S_IWUSR);
  if (mode == (info.st_mode & 07777)) return true;
  return chmod(path.c_str(), mode) == 0 || Fail();
}

bool IsSymbolicLink(const std::string& path) {
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0) return Fail();
  return S_ISLNK(info.st_mode);
}

namespace {

// One mkdir: 183 when anything (a link included) exists at the path, 3 when the parent is
// missing.
bool MakeDirectory(const std::string& path, mode_t mode) {
  if (mkdir(path.c_str(), mode) == 0) return true;
  if (errno == EEXIST) {
    SetLastError(kErrorAlreadyExists);
    return false;
  }
  if (errno == ENOENT) {
    SetLastError(kErrorPathNotFound);
    return false;
  }
  return Fail();
}

}  // namespace

bool CreateDirectory(const std::string& path) { return MakeDirectory(path, 0755); }

bool CreatePrivateDirectory(const std::string& path) {
  if (!MakeDirectory(path, 0700)) return false;
  // The umask may have taken the owner's bits: set them on the directory just made (not on what
  // a link put there since would lead to), and make sure it is still ours.
  const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return Fail();
  struct stat info {};
  bool ok = fstat(fd, &info) == 0;
  if (ok && info.st_uid != geteuid()) {
    errno = EACCES;
    ok = false;
  }
  ok = ok && fchmod(fd, 0700) == 0;
  if (!ok) SetLastErrorFromErrno();
  close(fd);
  return ok;
}

bool RemoveDirectory(const std::string& path) {
  if (rmdir(path.c_str()) == 0) return true;
  if (errno == EEXIST) errno = ENOTEMPTY;  // POSIX lets a non-empty directory report EEXIST
  return Fail();
}

bool FreeDiskBytes(const std::string& path, uint64_t& bytes) {
  std::string at = path;
  struct statvfs info {};
  while (statvfs(at.empty() ? "." : at.c_str(), &info) != 0) {
    if ((errno != ENOENT && errno != ENOTDIR) || at.empty() || at == "/") return Fail();
    while (at.size() > 1 && at.back() == '/') at.pop_back();
    const size_t slash = at.find_last_of('/');
    at = slash == std::string::npos ? std::string() : at.substr(0, slash == 0 ? 1 : slash);
  }
  bytes = static_cast<uint64_t>(info.f_bavail) * info.f_frsize;
  return true;
}

bool ListDirectory(const std::string& path, std::vector<DirectoryEntry>& entries) {
  entries.clear();
  DIR* dir = opendir(path.c_str());
  if (dir == nullptr) return Fail();
  const std::string prefix = (!path.empty() && path.back() == '/') ? path : path + "/";
  errno = 0;
  while (const dirent* entry = readdir(dir)) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    DirectoryEntry item;
    item.name = entry->d_name;
    if (entry->d_type == DT_DIR) {
      item.isDirectory = true;
    } else if (entry->d_type == DT_UNKNOWN) {
      struct stat info {};
      item.isDirectory = lstat((prefix + item.name).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
    }
    entries.push_back(std::move(item));
    errno = 0;
  }
  const int readError = errno;
  closedir(dir);
  if (readError != 0) {
    SetLastError(ErrorFromErrno(readError));
    return false;
  }
  return true;
}

bool CopyFile(const std::string& from, const std::string& to, bool failIfExists) {
  if (failIfExists) {
    struct stat info {};
    if (lstat(to.c_str(), &info) == 0) {
      SetLastError(kErrorFileExists);
      return false;
    }
  }
  return CopyFileReplace(from, to);
}

ReadOnlyMapping::~ReadOnlyMapping() { Close(); }

bool ReadOnlyMapping::Open(const std::string& path) {
  Close();
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Fail();
  struct stat info {};
  bool ok = fstat(fd, &info) == 0 || Fail();
  if (ok && !S_ISREG(info.st_mode)) {
    SetLastError(kErrorAccessDenied);
    ok = false;
  }
  if (ok && info.st_size == 0) {
    SetLastError(kErrorInvalidData);  // nothing to map
    ok = false;
  }
  if (ok) {
    // Populated at once: the whole file is about to be read.
    void* address = mmap(nullptr, static_cast<size_t>(info.st_size), PROT_READ,
                         MAP_PRIVATE | MAP_POPULATE, fd, 0);
    if (address == MAP_FAILED) {
      ok = Fail();
    } else {
      data_ = static_cast<const unsigned char*>(address);
      size_ = static_cast<size_t>(info.st_size);
    }
  }
  close(fd);
  return ok;
}

void ReadOnlyMapping::Close() {
  if (data_ != nullptr) munmap(const_cast<unsigned char*>(data_), size_);
  data_ = nullptr;
  size_ = 0;
}

ReplacingFileWriter::~ReplacingFileWriter() { Abandon(); }

bool ReplacingFileWriter::Open(const std::string& target) {
  Abandon();
  std::string temp;
  fd_ = OpenWriterTemp(target, temp);
  if (fd_ < 0) return false;
  fchmod(fd_, 0644);  // content files are readable by every user, as a plain copy would be
  temp_ = std::move(temp);
  target_ = target;
  return true;
}

bool ReplacingFileWriter::Write(const void* data, size_t size) {
  if (fd_ < 0) {
    SetLastError(kErrorInvalidHandle);
    return false;
  }
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t written = write(fd_, bytes, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return Fail();
    }
    bytes += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

bool ReplacingFileWriter::Commit() {
  if (fd_ < 0) {
    SetLastError(kErrorInvalidHandle);
    return false;
  }
  // Renamed while the lock is held, so that no other writer takes the file over meanwhile.
  if (rename(temp_.c_str(), target_.c_str()) != 0) {
    const uint32_t code = SetLastErrorFromErrno();
    Abandon();
    SetLastError(code);
    return false;
  }
  const bool closed = close(fd_) == 0;
  fd_ = -1;
  temp_.clear();
  return closed || Fail();
}

void ReplacingFileWriter::Abandon() {
  // Removed while the lock is held: the name may be another writer's once the lock is gone.
  if (!temp_.empty()) unlink(temp_.c_str());
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  temp_.clear();
}

}  // namespace platform
