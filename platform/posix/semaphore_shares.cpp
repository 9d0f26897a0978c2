#include "semaphore_shares.h"

#include <fcntl.h>

#include <algorithm>

namespace platform::internal {
namespace {

off_t ShareByte(size_t slot) { return kFirstShareByte + static_cast<off_t>(slot); }

// The handle's slot; claims a free one (no units, lock free) the first time. -1 when all are
// taken.
int ClaimSlot(ObjectState& state, const ObjectRecord& record) {
  if (state.ShareSlot() >= 0) return state.ShareSlot();
  for (size_t slot = 0; slot < kShareSlots; ++slot) {
    if (record.shares[slot] == 0 && LockByte(state.Descriptor(), ShareByte(slot), F_WRLCK, false)) {
      state.SetShareSlot(static_cast<int>(slot));
      return static_cast<int>(slot);
    }
  }
  return -1;
}

}  // namespace

bool ReclaimEndedShares(ObjectState& state, ObjectRecord& record) {
  bool changed = false;
  for (size_t slot = 0; slot < kShareSlots; ++slot) {
    // Our own lock does not show through our own open: skip our slot.
    if (record.shares[slot] == 0 || static_cast<int>(slot) == state.ShareSlot() ||
        ByteLockedElsewhere(state.Descriptor(), ShareByte(slot))) {
      continue;
    }
    record.count = std::max(0, record.count - record.shares[slot]);
    record.shares[slot] = 0;
    changed = true;
  }
  return changed;
}

void AddHeldUnits(ObjectState& state, ObjectRecord& record, int32_t count) {
  int slot = ClaimSlot(state, record);
  record.count += count;
  if (slot >= 0) record.shares[slot] += count;
}

void TakeUnit(ObjectState& state, ObjectRecord& record) {
  --record.count;
  int own = state.ShareSlot();
  if (own >= 0 && record.shares[own] > 0) {
    --record.shares[own];
    return;
  }
  int64_t held = 0;
  for (int32_t units : record.shares) held += units;
  if (held <= record.count) return;  // a free unit
  for (int32_t& units : record.shares) {
    if (units > 0) {
      --units;
      return;
    }
  }
}

}  // namespace platform::internal
