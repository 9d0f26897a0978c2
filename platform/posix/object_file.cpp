#include "object_file.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/clock.h"
#include "platform/errors.h"
#include "platform/sandbox.h"
#include "platform/sync.h"

namespace platform::internal {
namespace {

constexpr int kOpenFlags = O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
// A probe file is only ever read-locked.
constexpr int kProbeFlags = O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;

// Longer encoded names are replaced by their hash, well inside NAME_MAX.
constexpr size_t kLongestFileName = 200;

// How often an open starts over because the file went away under it.
constexpr int kOpenAttempts = 64;

// The longest pause between two tries for a stranger's state lock.
constexpr int kLongestLockPauseMs = 16;

constexpr std::string_view kGlobalPrefix = "Global\\";
constexpr std::string_view kLocalPrefix = "Local\\";

uint64_t Fnv1a(std::string_view text, uint64_t basis) {
  uint64_t hash = basis;
  for (unsigned char c : text) {
    hash ^= c;
    hash *= 0x100000001B3ULL;
  }
  hash ^= hash >> 31;  // finalise so that both halves depend on every byte
  hash *= 0x9E3779B97F4A7C15ULL;
  return hash ^ (hash >> 29);
}

void AppendHex(std::string& out, uint64_t value, int digits) {
  static constexpr char kDigits[] = "0123456789abcdef";
  for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) out += kDigits[(value >> shift) & 15];
}

// Letters, digits, '-', '_' and '.' stay; every other byte becomes %XX.
std::string ObjectFileName(std::string_view name) {
  std::string encoded = "o_";
  for (unsigned char c : name) {
    bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                 c == '-' || c == '_' || c == '.';
    if (plain) {
      encoded += static_cast<char>(c);
    } else {
      encoded += '%';
      AppendHex(encoded, c, 2);
    }
  }
  if (encoded.size() <= kLongestFileName) return encoded;
  std::string hashed = "h_";
  AppendHex(hashed, Fnv1a(name, 0xCBF29CE484222325ULL), 16);
  AppendHex(hashed, Fnv1a(name, 0x84222325CBF29CE4ULL), 16);
  return hashed;
}

struct flock ByteRange(off_t byte, short type) {
  struct flock range {};
  range.l_type = type;
  range.l_whence = SEEK_SET;
  range.l_start = byte;
  range.l_len = 1;
  return range;
}

// Checks that the open file is a regular file and takes its state lock. False with LastError().
bool CheckAndLock(int fd) {
  struct stat info {};
  if (fstat(fd, &info) != 0) {
    SetLastErrorFromErrno();
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    SetLastError(kErrorAccessDenied);
    return false;
  }
  return LockState(fd, OwnedByStranger(info.st_uid));
}

// Pauses a try for a lock; a move of a driven clock ends the pause at once.
void PauseForLock(int clockChange, int pauseMs) {
  pollfd moved{clockChange, POLLIN, 0};
  uint64_t moves = 0;
  if (poll(&moved, 1, pauseMs) > 0) (void)!read(clockChange, &moves, sizeof moves);
}

}  // namespace

bool LockByte(int fd, off_t byte, short type, bool wait) {
  struct flock range = ByteRange(byte, type);
  for (;;) {
    if (fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &range) == 0) return true;
    if (errno != EINTR) return false;
  }
}

bool ByteLockedElsewhere(int fd, off_t byte) {
  struct flock range = ByteRange(byte, F_WRLCK);
  if (fcntl(fd, F_OFD_GETLK, &range) != 0) return true;
  return range.l_type != F_UNLCK;
}

bool OwnedByStranger(uid_t owner) { return owner != geteuid() && !IsGlobalObjectCreator(owner); }

bool LockState(int fd, bool foreign, ForeignLock how) {
  if (!foreign) {
    if (LockByte(fd, kStateByte, F_WRLCK, true)) return true;
    SetLastErrorFromErrno();
    return false;
  }
  Clock& clock = CurrentClock();
  int clockChange = -1;
  uint64_t start = 0;
  int pauseMs = 1;
  for (bool first = true;; first = false) {
    if (LockByte(fd, kStateByte, F_WRLCK, false)) return true;
    if (errno != EAGAIN && errno != EACCES) {
      SetLastErrorFromErrno();
      return false;
    }
    if (how == ForeignLock::TryOnce) break;
    if (first) {
      clockChange = clock.ChangeDescriptor();
      start = clock.MonotonicMs();
    } else if (clock.MonotonicMs() - start >= kForeignObjectLockMs) {
      break;
    }
    PauseForLock(clockChange, pauseMs);
    pauseMs = std::min(pauseMs * 2, kLongestLockPauseMs);
  }
  SetLastError(kErrorLockViolation);
  return false;
}

bool ReadRecord(int fd, ObjectRecord& record) {
  ssize_t got = pread(fd, &record, sizeof record, 0);
  if (got != static_cast<ssize_t>(sizeof record) || record.magic != kRecordMagic) {
    SetLastError(kErrorInvalidHandle);
    return false;
  }
  return true;
}

bool WriteRecord(int fd, const ObjectRecord& record) {
  if (pwrite(fd, &record, sizeof record, 0) != static_cast<ssize_t>(sizeof record)) {
    SetLastErrorFromErrno();
    return false;
  }
  return true;
}

void Ring(int fd) { futimens(fd, nullptr); }

bool IsGlobalName(std::string_view name) { return name.starts_with(kGlobalPrefix); }

bool MadeByGlobalObjectCreator(int fd) {
  struct stat info {};
  return fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_nlink == 1 &&
         IsGlobalObjectCreator(info.st_uid);
}

bool RemoveStrangersEntry(const std::string& path) {
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0 || IsGlobalObjectCreator(info.st_uid)) return false;
  return (S_ISDIR(info.st_mode) ? rmdir(path.c_str()) : unlink(path.c_str())) == 0;
}

std::string ProbeFilePath(const std::string& objectPath) {
  // Object files are named "o_..." or "h_...": "po_..." and "ph_..." name no object.
  std::string::size_type slash = objectPath.rfind('/');
  return objectPath.substr(0, slash + 1) + "p" + objectPath.substr(slash + 1);
}

int HoldHandleProbe(const std::string& objectPath, bool renew) {
  const std::string probe = ProbeFilePath(objectPath);
  for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
    int fd = open(probe.c_str(), kProbeFlags);
    bool made = false;
    if (fd < 0 && errno == ENOENT) {
      fd = open(probe.c_str(), kProbeFlags | O_CREAT | O_EXCL, 0644);
      if (fd < 0 && errno == EEXIST) continue;
      made = fd >= 0 && fchmod(fd, 0644) == 0;  // readable by all, whatever the umask
    }
    if (fd < 0) return -1;
    if (made || (!renew && MadeByGlobalObjectCreator(fd))) {
      if (LockByte(fd, kProbeByte, F_RDLCK, false)) return fd;
      close(fd);
      return -1;
    }
    // A stranger's, or one left from an object that no handle holds any more (whose lock anyone
    // may hold): a new one replaces it.
    RemoveObjectFile(probe, fd);
    close(fd);
    renew = false;
  }
  return -1;
}

uint32_t UnopenableObjectError(const std::string& objectPath) {
  struct stat info {};
  if (lstat(objectPath.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_nlink != 1 ||
      !IsGlobalObjectCreator(info.st_uid)) {
    return kErrorFileNotFound;
  }
  int probe = open(ProbeFilePath(objectPath).c_str(), kProbeFlags);
  if (probe < 0) return kErrorFileNotFound;
  const bool held = MadeByGlobalObjectCreator(probe) && ByteLockedElsewhere(probe, kProbeByte);
  close(probe);
  return held ? kErrorAccessDenied : kErrorFileNotFound;
}

std::string ObjectFilePath(std::string_view name) {
  bool global = IsGlobalName(name);
  if (global) {
    name.remove_prefix(kGlobalPrefix.size());
  } else if (name.starts_with(kLocalPrefix)) {
    name.remove_prefix(kLocalPrefix.size());
  }
  std::string directory = NamedObjectDirectory(global);
  if (directory.empty()) return {};
  return directory + "/" + ObjectFileName(name);
}

int OpenObjectFile(const std::string& path, bool create, bool& created) {
  for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
    created = false;
    // Open first without O_CREAT: protected_regular refuses O_CREAT on another user's file in
    // a sticky directory even when the file exists.
    int fd = open(path.c_str(), kOpenFlags);
    if (fd < 0 && errno == ENOENT && create) {
      fd = open(path.c_str(), kOpenFlags | O_CREAT | O_EXCL, 0600);
      if (fd < 0 && errno == EEXIST) continue;
      created = fd >= 0;
    }
    if (fd < 0) {
      SetLastErrorFromErrno();
      return -1;
    }
    if (!CheckAndLock(fd)) {
      close(fd);
      return -1;
    }
    struct stat info {};
    if (fstat(fd, &info) == 0 && info.st_nlink > 0) return fd;
    close(fd);  // removed by its last closer while we waited for the lock: start over
  }
  SetLastError(kErrorBusy);
  return -1;
}

int CreatePrivateObjectFile() {
  int fd = memfd_create("tidesync-object", MFD_CLOEXEC);
  if (fd < 0) {
    SetLastErrorFromErrno();
    return -1;
  }
  if (!CheckAndLock(fd)) {
    close(fd);
    return -1;
  }
  return fd;
}

int ReopenObjectFile(int fd) {
  int reopened = open(DescriptorPath(fd).c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
  if (reopened < 0) SetLastErrorFromErrno();
  return reopened;
}

std::string DescriptorPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

void RemoveObjectFile(const std::string& path, int fd) {
  struct stat named {};
  struct stat opened {};
  if (lstat(path.c_str(), &named) != 0 || fstat(fd, &opened) != 0) return;
  if (named.st_dev == opened.st_dev && named.st_ino == opened.st_ino) unlink(path.c_str());
}

}  // namespace platform::internal
