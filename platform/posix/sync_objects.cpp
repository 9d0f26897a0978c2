#include <utility>

#include "mutex_ownership.h"
#include "object_state.h"
#include "platform/errors.h"
#include "platform/sync.h"
#include "semaphore_shares.h"

namespace platform {
namespace {

using internal::AcquireResult;
using internal::ObjectKind;
using internal::ObjectRecord;
using internal::OpenRequest;

enum class Update { None, Write, WriteAndRing, Refuse };

// Reads the record under the state lock, lets `change` edit it, and writes it back (and rings
// the file) as `change` answers. The ring follows the unlock, so that a woken waiter does not
// find the lock still taken.
template <typename Change>
bool UpdateRecord(ObjectState& state, Change&& change) {
  Update update = Update::None;
  {
    internal::StateLock lock(state);
    ObjectRecord record;
    if (!lock.Held() || !internal::ReadRecord(state.Descriptor(), record)) return false;
    update = change(record);
    if (update == Update::Refuse) return false;
    if (update == Update::None) return true;
    if (!internal::WriteRecord(state.Descriptor(), record)) return false;
  }
  if (update == Update::WriteAndRing) internal::Ring(state.Descriptor());
  return true;
}

OpenRequest OpenOnly(ObjectKind kind) {
  OpenRequest request;
  request.kind = kind;
  return request;
}

}  // namespace

WaitObject::WaitObject(std::unique_ptr<ObjectState> state) : state_(std::move(state)) {}

WaitObject::~WaitObject() = default;

int WaitObject::HandleValue() const { return state_->HandleValue(); }

bool WaitObject::SetAccess(ObjectAccess access) {
  return internal::ApplyAccess(state_->Descriptor(), access);
}

std::unique_ptr<Event> Event::Create(std::string_view name, bool manualReset, bool initiallySet,
                                     ObjectAccess access) {
  OpenRequest request{ObjectKind::Event, true, {}, access, false};
  request.initial.manualReset = manualReset ? 1 : 0;
  request.initial.count = initiallySet ? 1 : 0;
  auto state = internal::OpenObject(name, request);
  return state ? std::unique_ptr<Event>(new Event(std::move(state))) : nullptr;
}

std::unique_ptr<Event> Event::Open(std::string_view name) {
  auto state = internal::OpenObject(name, OpenOnly(ObjectKind::Event));
  return state ? std::unique_ptr<Event>(new Event(std::move(state))) : nullptr;
}

bool Event::Set() {
  return UpdateRecord(State(), [](ObjectRecord& record) {
    if (record.count != 0) return Update::None;
    record.count = 1;
    ++record.generation;  // releases the waiters of a manual-reset event even if reset at once
    return Update::WriteAndRing;
  });
}

bool Event::Reset() {
  return UpdateRecord(State(), [](ObjectRecord& record) {
    if (record.count == 0) return Update::None;
    record.count = 0;
    return Update::Write;
  });
}

std::unique_ptr<Mutex> Mutex::Create(std::string_view name, bool initiallyOwned,
                                     ObjectAccess access) {
  auto state = internal::OpenObject(name, OpenRequest{ObjectKind::Mutex, true, {}, access, initiallyOwned});
  return state ? std::unique_ptr<Mutex>(new Mutex(std::move(state))) : nullptr;
}

std::unique_ptr<Mutex> Mutex::Open(std::string_view name) {
  auto state = internal::OpenObject(name, OpenOnly(ObjectKind::Mutex));
  return state ? std::unique_ptr<Mutex>(new Mutex(std::move(state))) : nullptr;
}

bool Mutex::Release() {
  internal::StateLock lock(State());
  ObjectRecord record;
  return lock.Held() && internal::ReadRecord(State().Descriptor(), record) &&
         internal::ReleaseMutexLocked(State(), record);
}

std::unique_ptr<Semaphore> Semaphore::Create(std::string_view name, int32_t initialCount,
                                             int32_t maximumCount, ObjectAccess access) {
  if (maximumCount <= 0 || initialCount < 0 || initialCount > maximumCount) {
    SetLastError(kErrorInvalidParameter);
    return nullptr;
  }
  OpenRequest request{ObjectKind::Semaphore, true, {}, access, false};
  request.initial.count = initialCount;
  request.initial.maximum = maximumCount;
  auto state = internal::OpenObject(name, request);
  return state ? std::unique_ptr<Semaphore>(new Semaphore(std::move(state))) : nullptr;
}

std::unique_ptr<Semaphore> Semaphore::Open(std::string_view name) {
  auto state = internal::OpenObject(name, OpenOnly(ObjectKind::Semaphore));
  return state ? std::unique_ptr<Semaphore>(new Semaphore(std::move(state))) : nullptr;
}

namespace {

// Adds to a semaphore's count, as free units or as the handle's own.
bool RaiseCount(ObjectState& state, int32_t count, bool held, int32_t* previousCount) {
  if (count <= 0) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  return UpdateRecord(state, [&](ObjectRecord& record) {
    internal::ReclaimEndedShares(state, record);
    if (record.count > record.maximum - count) {
      SetLastError(kErrorTooManyPosts);
      return Update::Refuse;
    }
    if (previousCount != nullptr) *previousCount = record.count;
    if (held) {
      internal::AddHeldUnits(state, record, count);
    } else {
      record.count += count;
    }
    return Update::WriteAndRing;
  });
}

}  // namespace

bool Semaphore::Release(int32_t count, int32_t* previousCount) {
  return RaiseCount(State(), count, false, previousCount);
}

bool Semaphore::ReleaseHeld(int32_t count) { return RaiseCount(State(), count, true, nullptr); }

bool Semaphore::Count(int32_t& count) {
  return UpdateRecord(State(), [&](ObjectRecord& record) {
    bool reclaimed = internal::ReclaimEndedShares(State(), record);
    count = record.count;
    return reclaimed ? Update::Write : Update::None;
  });
}

namespace internal {

AcquireResult TryAcquire(ObjectState& state, AcquireProgress& progress) {
  StateLock lock(state, ForeignLock::TryOnce);
  progress.lockBusy = !lock.Held() && LastError() == kErrorLockViolation;
  if (progress.lockBusy) return AcquireResult::NotReady;
  ObjectRecord record;
  if (!lock.Held() || !ReadRecord(state.Descriptor(), record)) return AcquireResult::Failed;
  switch (state.Kind()) {
    case ObjectKind::Mutex:
      return TakeMutexLocked(state, record, progress);
    case ObjectKind::Semaphore:
      if (ReclaimEndedShares(state, record) && record.count <= 0) {
        return WriteRecord(state.Descriptor(), record) ? AcquireResult::NotReady
                                                       : AcquireResult::Failed;
      }
      if (record.count <= 0) return AcquireResult::NotReady;
      TakeUnit(state, record);
      break;
    case ObjectKind::Event:
      if (record.count == 0) {
        bool setMeanwhile = progress.generationKnown && record.generation != progress.generation;
        if (!progress.generationKnown) {
          progress.generationKnown = true;
          progress.generation = record.generation;
        }
        return record.manualReset != 0 && setMeanwhile ? AcquireResult::Acquired
                                                        : AcquireResult::NotReady;
      }
      if (record.manualReset != 0) return AcquireResult::Acquired;
      record.count = 0;
      break;
  }
  return WriteRecord(state.Descriptor(), record) ? AcquireResult::Acquired : AcquireResult::Failed;
}

}  // namespace internal
}  // namespace platform
