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
  }
}

ObjectState::~ObjectState() {
  {
    std::lock_guard lock(threadMutex_);
    // The last handle anywhere can turn its handle-byte read lock into a write lock.
    if (!path_.empty() && internal::LockByte(fd_, internal::kStateByte, F_WRLCK, true) &&
        internal::LockByte(fd_, internal::kHandleByte, F_WRLCK, false)) {
      internal::RemoveObjectFile(path_, fd_);
    }
    close(fd_);  // drops every lock of this open
  }
  ReleaseHandleValue(handleValue_);
}

namespace internal {

StateLock::StateLock(ObjectState& state) : state_(state) {
  state_.ThreadMutex().lock();
  held_ = LockByte(state_.Descriptor(), kStateByte, F_WRLCK, true);
  if (!held_) SetLastErrorFromErrno();
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

// Opens the file with its state lock held and tells whether any handle holds the object.
// Only root and the sandbox's owner make Global objects: a Global file that another account
// made is replaced when they create the object and ignored otherwise. In the local namespace,
// an absent object's file that another user owns is replaced when we may remove it, so that a
// new object never inherits a stranger's file.
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
  const bool creator = !global || IsGlobalObjectCreator(geteuid());
  for (bool replaced = false;; replaced = true) {
    int fd = OpenObjectFile(path, request.create && creator, created);
    if (fd < 0) {
      if (request.create && !creator && LastError() == kErrorFileNotFound) {
        SetLastError(kErrorAccessDenied);
      }
      return -1;
    }
    present = !LockByte(fd, kHandleByte, F_WRLCK, false);
    const bool foreign = global ? !MadeByGlobalObjectCreator(fd) : !present && OwnedByOtherUser(fd);
    if (foreign && request.create && creator && !created && !replaced) {
      RemoveObjectFile(path, fd);
      close(fd);
      continue;
    }
    uint32_t refusal = kErrorSuccess;
    if (global && foreign) {
      refusal = request.create ? kErrorAccessDenied : kErrorFileNotFound;
    } else if (request.create && !creator && !present) {
      refusal = kErrorAccessDenied;  // would make the object anew
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
  bool named = !path.empty();
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
