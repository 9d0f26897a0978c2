#include "platform/file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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

bool CreateDirectory(const std::string& path) {
  if (mkdir(path.c_str(), 0755) == 0) return true;
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

bool RemoveDirectory(const std::string& path) {
  if (rmdir(path.c_str()) == 0) return true;
  if (errno == EEXIST) errno = ENOTEMPTY;  // POSIX lets a non-empty directory report EEXIST
  return Fail();
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
  fd_ = OpenUniqueFile(DirectoryOf(target), "_hx", 0600, temp);
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
  const int fd = fd_;
  fd_ = -1;
  if (close(fd) != 0 || rename(temp_.c_str(), target_.c_str()) != 0) {
    const uint32_t code = SetLastErrorFromErrno();
    unlink(temp_.c_str());
    temp_.clear();
    SetLastError(code);
    return false;
  }
  temp_.clear();
  return true;
}

void ReplacingFileWriter::Abandon() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  if (!temp_.empty()) unlink(temp_.c_str());
  temp_.clear();
}

}  // namespace platform
