#include "object_state.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "fork_guard.h"
#include "mutex_ownership.h"
#include "platform/errors.h"
#include "platform/sandbox.h"

namespace platform {
namespace {

// Handle values in use, so that log lines show small numbers; the lowest free one is reused.
std::mutex gHandleValuesMutex;
std::vector<bool> gHandleValuesInUse;

int AllocateHandleValue() {
  std::lock_guard lock(gHandleValuesMutex);
  for (size_t i = 0; i < gHandleValuesInUse.size(); ++i) {
    if (!gHandleValuesInUse[i]) {
      gHandleValuesInUse[i] = true;
      return static_cast<int>(i) + 1;
    }
  }
  gHandleValuesInUse.push_back(true);
  return static_cast<int>(gHandleValuesInUse.size());
}

void ReleaseHandleValue(int value) {
  std::lock_guard lock(gHandleValuesMutex);
  if (value > 0 && static_cast<size_t>(value) <= gHandleValuesInUse.size()) {
    gHandleValuesInUse[static_cast<size_t>(value) - 1] = false;
  }
}

void KeepHandleValuesInChild() {}

[[maybe_unused]] const int gForkHandlers =
    internal::ForkGuard<&gHandleValuesMutex, KeepHandleValuesInChild>::Register();

}  // namespace

ObjectState::ObjectState(int fd, std::string path, internal::ObjectKind kind)
    : fd_(fd), path_(std::move(path)), kind_(kind), handleValue_(AllocateHandleValue()) {
  struct stat info {};
  if (fstat(fd_, &info) == 0) {
    identity_ = {static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino)};
    foreign_ = internal::OwnedByStranger(info.st_uid);
  }
}

ObjectState::~ObjectState() {
  {
    std::lock_guard lock(threadMutex_);
    // The last handle anywhere can turn its handle-byte read lock into a write lock. On a
    // stranger's file whose state lock is taken, the removal is left to the others.
    if (!path_.empty() && internal::LockByte(fd_, internal::kStateByte, F_WRLCK, !foreign_) &&
        internal::LockByte(fd_, internal::kHandleByte, F_WRLCK, false)) {
      // The probe first: a new object of the name can only begin once the file is gone.
      if (probeFd_ >= 0) internal::RemoveObjectFile(internal::ProbeFilePath(path_), probeFd_);
      internal::RemoveObjectFile(path_, fd_);
    }
    close(fd_);  // drops every lock of this open
    if (probeFd_ >= 0) close(probeFd_);
  }
  ReleaseHandleValue(handleValue_);
}

namespace internal {

StateLock::StateLock(ObjectState& state, ForeignLock how) : state_(state) {
  state_.ThreadMutex().lock();
  held_ = LockState(state_.Descriptor(), state_.Foreign(), how);
}

StateLock::~StateLock() {
  if (held_) LockByte(state_.Descriptor(), kStateByte, F_UNLCK, false);
  state_.ThreadMutex().unlock();
}

bool ApplyAccess(int fd, ObjectAccess access) {
  if (fchmod(fd, access == ObjectAccess::Everyone ? 0666 : 0600) == 0) return true;
  SetLastError(kErrorAccessDenied);
  return false;
}

namespace {

bool OwnedByOtherUser(int fd) {
  struct stat info {};
  return fstat(fd, &info) == 0 && info.st_uid != geteuid();
}

// Whose object file is open, in the Global namespace: this account's or root's, or a
// stranger's (also any file that another name links to).
enum class Maker { Self, Root, Stranger };

Maker MakerOf(int fd) {
  struct stat info {};
  if (fstat(fd, &info) != 0 || info.st_nlink != 1) return Maker::Stranger;
  if (info.st_uid == geteuid()) return Maker::Self;
  return IsGlobalObjectCreator(info.st_uid) ? Maker::Root : Maker::Stranger;
}

// Opens the file with its state lock held and tells whether any handle holds the object.
// Global names: any account makes an object under a name that no live object of another
// account holds. Root (and the sandbox's owner) opens every live object and replaces a
// stranger's file when it creates the object, so nobody squats its names; another account
// uses only its own objects and root's that it may open, and cannot take a name that root's or
// a stranger's file holds (5). Local names: an absent object's file that another user owns is
// replaced when we may remove it, so that a new object never inherits a stranger's file.
int OpenLockedFile(std::string_view name, const OpenRequest& request, std::string& path,
                   bool& created, bool& present) {
  if (name.empty()) {
    if (!request.create) {
      SetLastError(kErrorInvalidParameter);
      return -1;
    }
    created = true;
    present = false;
    return CreatePrivateObjectFile();
  }
  path = ObjectFilePath(name);
  if (path.empty()) return -1;
  const bool global = IsGlobalName(name);
  const bool root = IsGlobalObjectCreator(geteuid());
  for (bool replaced = false;; replaced = true) {
    int fd = OpenObjectFile(path, request.create, created);
    if (fd < 0 && LastError() == kErrorLockViolation) {
      // A stranger's file whose owner keeps its state lock: root's Create replaces it; for
      // anyone else it is no object they may use, and root's Open cannot read its state.
      if (request.create && root && global && !replaced && RemoveStrangersEntry(path)) continue;
      if (request.create) {
        SetLastError(kErrorAccessDenied);
      } else {
        SetLastError(global && !root ? kErrorFileNotFound : kErrorInvalidHandle);
      }
      return -1;
    }
    if (fd < 0) {
      if (global && LastError() == kErrorAccessDenied) {
        if (request.create && root && !replaced && RemoveStrangersEntry(path)) continue;
        if (!request.create) SetLastError(UnopenableObjectError(path));
      }
      return -1;
    }
    present = !LockByte(fd, kHandleByte, F_WRLCK, false);
    const Maker maker = !global || created ? Maker::Self : MakerOf(fd);
    const bool replace = global ? maker == Maker::Stranger && root && request.create
                                : !present && OwnedByOtherUser(fd) && request.create;
    if (replace && !created && !replaced) {
      RemoveObjectFile(path, fd);
      close(fd);
      continue;
    }
    uint32_t refusal = kErrorSuccess;
    if (maker == Maker::Stranger && (request.create || !root)) {
      refusal = request.create ? kErrorAccessDenied : kErrorFileNotFound;
    } else if (maker == Maker::Root && !root && request.create && !present) {
      refusal = kErrorAccessDenied;  // it cannot make the object anew in root's file
    }
    if (refusal == kErrorSuccess) return fd;
    close(fd);
    SetLastError(refusal);
    return -1;
  }
}

}  // namespace

std::unique_ptr<ObjectState> OpenObject(std::string_view name, const OpenRequest& request) {
  std::string path;
  bool created = false;
  bool present = false;
  int fd = OpenLockedFile(name, request, path, created, present);
  if (fd < 0) return nullptr;
  // Join the handle count (a read lock; converts the probe's write lock when we were alone).
  bool counted = LockByte(fd, kHandleByte, F_RDLCK, false);
  uint32_t countError = counted ? kErrorSuccess : ErrorFromErrno(errno);
  const bool named = !path.empty();
  // Root's handles of its Global objects show themselves in the probe (best effort).
  const bool probed = named && IsGlobalName(name) && IsGlobalObjectCreator(geteuid()) &&
                      MadeByGlobalObjectCreator(fd);
  const std::string probedPath = probed ? path : std::string();
  auto state = std::make_unique<ObjectState>(fd, std::move(path), request.kind);
  uint32_t outcome = kErrorSuccess;
  ObjectRecord record;
  if (!counted) {
    outcome = countError;  // a handle outside the count would not keep the object alive
  } else if (!present && !request.create) {
    outcome = kErrorFileNotFound;
  } else if (!present) {
    record = request.initial;
    record.kind = static_cast<uint32_t>(request.kind);
    // The access list decides who else may write the state: never leave a stranger's mode.
    if ((named && !ApplyAccess(fd, request.access)) || !WriteRecord(fd, record)) {
      outcome = LastError();
    } else if (request.ownInitially) {
      AcquireProgress progress;
      if (TakeMutexLocked(*state, record, progress) == AcquireResult::Failed) outcome = LastError();
    }
  } else if (!ReadRecord(fd, record) || record.kind != static_cast<uint32_t>(request.kind)) {
    outcome = kErrorInvalidHandle;
  }
  if (outcome == kErrorSuccess && probed) state->SetProbe(HoldHandleProbe(probedPath, !present));
  LockByte(fd, kStateByte, F_UNLCK, false);
  if (outcome != kErrorSuccess) {
    state.reset();
    SetLastError(outcome);
    return nullptr;
  }
  SetLastError(present && request.create ? kErrorAlreadyExists : kErrorSuccess);
  return state;
}

}  // namespace internal
}  // namespace platform
