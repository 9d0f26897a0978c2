// Mutex ownership: the owning thread holds a write lock on the owner byte through an open of
// its own, so the kernel drops it when the owner's process dies, and a thread that ends while
// owning abandons what it owns.
#pragma once
#include "object_state.h"

namespace platform::internal {

// Under the state lock, with `record` read: takes the mutex for the calling thread when it is
// free (Acquired) or its owner ended (Abandoned), or once more when the thread owns it.
// Otherwise NotReady, with `progress` telling who owns it.
AcquireResult TakeMutexLocked(ObjectState& state, ObjectRecord& record, AcquireProgress& progress);

// Under the state lock, with `record` read: gives up one level of the calling thread's
// ownership, and wakes the waiters when that frees the mutex. False with LastError() 288 when
// the thread does not own the mutex.
bool ReleaseMutexLocked(ObjectState& state, ObjectRecord& record);

}  // namespace platform::internal
