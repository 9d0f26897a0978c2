// A handle to a named object and the operations that every kind shares: opening, the state
// lock, closing, and the attempt to acquire that a wait makes.
#pragma once
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "object_file.h"
#include "platform/sync.h"

namespace platform {

namespace internal {

// Which file an object is, whatever its path: the same for every handle to it.
struct ObjectIdentity {
  uint64_t device = 0;
  uint64_t inode = 0;
  bool operator==(const ObjectIdentity&) const = default;
};

}  // namespace internal

// One handle: its own open of the object file, which holds a read lock on the handle byte for
// as long as the handle lives.
class ObjectState {
 public:
  ObjectState(int fd, std::string path, internal::ObjectKind kind);
  ~ObjectState();
  ObjectState(const ObjectState&) = delete;
  ObjectState& operator=(const ObjectState&) = delete;

  int Descriptor() const { return fd_; }
  internal::ObjectKind Kind() const { return kind_; }
  int HandleValue() const { return handleValue_; }
  const internal::ObjectIdentity& Identity() const { return identity_; }
  // A stranger's file (internal::OwnedByStranger): its locks are never waited for without a bound.
  bool Foreign() const { return foreign_; }
  // Serialises this handle's users: OFD locks do not separate threads that share one open.
  std::mutex& ThreadMutex() { return threadMutex_; }
  // Semaphore: the share slot this handle holds through its open, -1 for none (under the state
  // lock).
  int ShareSlot() const { return shareSlot_; }
  void SetShareSlot(int slot) { shareSlot_ = slot; }
  // Root's Global object: the handle's open of the probe file, which it holds read-locked.
  void SetProbe(int probeFd) { probeFd_ = probeFd; }

 private:
  int fd_;
  std::string path_;  // empty for an unnamed object
  internal::ObjectKind kind_;
  int handleValue_;
  internal::ObjectIdentity identity_;
  bool foreign_ = false;
  std::mutex threadMutex_;
  int shareSlot_ = -1;
  int probeFd_ = -1;
};

namespace internal {

// Holds an object's state lock: the handle's thread mutex, then the state byte (on a stranger's
// file taken as `how` says).
class StateLock {
 public:
  explicit StateLock(ObjectState& state, ForeignLock how = ForeignLock::Bounded);
  ~StateLock();
  StateLock(const StateLock&) = delete;
  StateLock& operator=(const StateLock&) = delete;
  // False (with LastError(), 33 when a stranger's lock stayed taken) when the byte lock could
  // not be taken.
  bool Held() const { return held_; }

 private:
  ObjectState& state_;
  bool held_;
};

struct OpenRequest {
  ObjectKind kind = ObjectKind::Event;
  bool create = false;
  ObjectRecord initial;  // the state of a new object
  ObjectAccess access = ObjectAccess::Owner;
  bool ownInitially = false;  // mutex: a new one is owned by its creator
};

// Creates or opens the object: LastError() is 183 when Create found it existing, 0 when it is
// new. Null with LastError() on failure (2: no process holds one; 5: refused, for instance a
// Global object that this account may not make; 6: another kind, or a stranger's file whose
// state lock stayed taken).
std::unique_ptr<ObjectState> OpenObject(std::string_view name, const OpenRequest& request);

// What one wait has learnt about one object, kept from check to check.
struct AcquireProgress {
  bool generationKnown = false;
  uint64_t generation = 0;      // manual-reset event: the generation the wait first saw
  bool ownedElsewhere = false;  // mutex: held through the lock by another process or thread
  uint32_t ownerPid = 0;        // mutex: the owner's process as the state names it
  bool lockBusy = false;        // a stranger's file whose state lock was taken: look again soon
};

enum class AcquireResult { NotReady, Acquired, Abandoned, Failed };

// One attempt to acquire: takes an event's or semaphore's signal, or a mutex, when available.
// A stranger's file whose state lock is taken is NotReady, with `progress.lockBusy` set.
AcquireResult TryAcquire(ObjectState& state, AcquireProgress& progress);

// Sets the file's mode: 0666 for Everyone, else 0600. False with LastError() 5 when refused.
bool ApplyAccess(int fd, ObjectAccess access);

}  // namespace internal
}  // namespace platform
