#include "mutex_ownership.h"

#include <fcntl.h>
#include <unistd.h>

#include <vector>

#include "fork_guard.h"
#include "platform/errors.h"
#include "platform/messages.h"

namespace platform::internal {
namespace {

// One mutex owned by one thread of this process, and the open that holds its owner byte.
struct Ownership {
  ObjectIdentity object;
  uint32_t threadId = 0;
  int fd = -1;
  bool foreign = false;  // a stranger's file (ObjectState::Foreign)
};

std::mutex gOwnershipsMutex;
std::vector<Ownership> gOwnerships;

bool OwnsMutex(const ObjectIdentity& object, uint32_t threadId) {
  std::lock_guard lock(gOwnershipsMutex);
  for (const Ownership& entry : gOwnerships) {
    if (entry.object == object && entry.threadId == threadId) return true;
  }
  return false;
}

// Removes the matching ownerships and returns them (all of the thread's for a null object).
std::vector<Ownership> TakeOwnerships(const ObjectIdentity* object, uint32_t threadId) {
  std::vector<Ownership> taken;
  std::lock_guard lock(gOwnershipsMutex);
  std::erase_if(gOwnerships, [&](const Ownership& entry) {
    bool match = entry.threadId == threadId && (object == nullptr || entry.object == *object);
    if (match) taken.push_back(entry);
    return match;
  });
  return taken;
}

// Lets go of the owner byte and wakes the waiters: the lock goes first, so that a waiter woken
// by the ring finds the mutex free.
void DropOwnership(const Ownership& entry) {
  LockByte(entry.fd, kOwnerByte, F_UNLCK, false);
  Ring(entry.fd);
  close(entry.fd);
}

// Marks every mutex that the thread still owns abandoned, through the ownership's own open.
void AbandonThreadMutexes(uint32_t threadId) {
  for (const Ownership& entry : TakeOwnerships(nullptr, threadId)) {
    if (LockState(entry.fd, entry.foreign)) {
      ObjectRecord record;
      if (ReadRecord(entry.fd, record) && record.ownerPid == CurrentProcessId() &&
          record.ownerTid == threadId) {
        record.ownerPid = record.ownerTid = record.recursion = 0;
        record.abandoned = 1;
        WriteRecord(entry.fd, record);
      }
      LockByte(entry.fd, kOwnerByte, F_UNLCK, false);
      LockByte(entry.fd, kStateByte, F_UNLCK, false);
    }
    DropOwnership(entry);
  }
}

// Its destructor runs when a thread that ever took a mutex ends.
struct ThreadEndWatch {
  uint32_t threadId = 0;
  ~ThreadEndWatch() {
    if (threadId != 0) AbandonThreadMutexes(threadId);
  }
};

thread_local ThreadEndWatch tThreadEndWatch;

// A forked child owns nothing: close its copies of the owner opens without unlocking them,
// since the parent's owners still hold the locks through the same open file descriptions.
void ForgetOwnershipsInChild() {
  for (const Ownership& entry : gOwnerships) close(entry.fd);
  gOwnerships.clear();
  tThreadEndWatch.threadId = 0;
}

[[maybe_unused]] const int gForkHandlers =
    ForkGuard<&gOwnershipsMutex, ForgetOwnershipsInChild>::Register();

}  // namespace

AcquireResult TakeMutexLocked(ObjectState& state, ObjectRecord& record, AcquireProgress& progress) {
  const uint32_t pid = CurrentProcessId();
  const uint32_t tid = CurrentThreadId();
  progress.ownedElsewhere = false;
  if (record.ownerPid == pid && record.ownerTid == tid && OwnsMutex(state.Identity(), tid)) {
    ++record.recursion;
    return WriteRecord(state.Descriptor(), record) ? AcquireResult::Acquired
                                                   : AcquireResult::Failed;
  }
  if (ByteLockedElsewhere(state.Descriptor(), kOwnerByte)) {
    progress.ownedElsewhere = record.ownerPid != pid;
    progress.ownerPid = record.ownerPid;
    return AcquireResult::NotReady;
  }
  Ownership entry{state.Identity(), tid, ReopenObjectFile(state.Descriptor()), state.Foreign()};
  if (entry.fd < 0) return AcquireResult::Failed;
  if (!LockByte(entry.fd, kOwnerByte, F_WRLCK, false)) {
    close(entry.fd);
    return AcquireResult::NotReady;
  }
  // Free in the state, or named owner whose lock is gone: that owner ended without releasing.
  bool abandoned = record.abandoned != 0 || record.ownerPid != 0;
  record.ownerPid = pid;
  record.ownerTid = tid;
  record.recursion = 1;
  record.abandoned = 0;
  if (!WriteRecord(state.Descriptor(), record)) {
    close(entry.fd);
    return AcquireResult::Failed;
  }
  tThreadEndWatch.threadId = tid;
  std::lock_guard lock(gOwnershipsMutex);
  gOwnerships.push_back(entry);
  return abandoned ? AcquireResult::Abandoned : AcquireResult::Acquired;
}

bool ReleaseMutexLocked(ObjectState& state, ObjectRecord& record) {
  const uint32_t tid = CurrentThreadId();
  bool ownsByRecord = record.ownerPid == CurrentProcessId() && record.ownerTid == tid;
  if (!ownsByRecord || !OwnsMutex(state.Identity(), tid)) {
    // An ownership that the state no longer names (the object was made anew) is stale.
    if (!ownsByRecord) {
      for (const Ownership& entry : TakeOwnerships(&state.Identity(), tid)) DropOwnership(entry);
    }
    SetLastError(kErrorNotOwner);
    return false;
  }
  if (--record.recursion > 0) return WriteRecord(state.Descriptor(), record);
  record.ownerPid = record.ownerTid = 0;
  if (!WriteRecord(state.Descriptor(), record)) return false;
  for (const Ownership& entry : TakeOwnerships(&state.Identity(), tid)) DropOwnership(entry);
  return true;
}

}  // namespace platform::internal
