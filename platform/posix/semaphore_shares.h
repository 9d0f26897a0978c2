// Units of a semaphore's count that a handle holds as its own (a reader inside a guard). The
// holder write-locks its slot's byte through the handle's open, so the kernel drops the lock
// when the handle closes or its process dies; whoever looks at the count next takes the units
// of a slot whose lock is gone out of it.
#pragma once
#include "object_state.h"

namespace platform::internal {

// Under the state lock, with `record` read: takes the units of ended holders out of the count.
// True when the record changed.
bool ReclaimEndedShares(ObjectState& state, ObjectRecord& record);

// Under the state lock: adds `count` units as the handle's own (as free units when every slot
// is taken).
void AddHeldUnits(ObjectState& state, ObjectRecord& record, int32_t count);

// Under the state lock, with a positive count: takes one unit, the handle's own first, then a
// free one, then another holder's, so that the slots never claim more than the count.
void TakeUnit(ObjectState& state, ObjectRecord& record);

}  // namespace platform::internal
