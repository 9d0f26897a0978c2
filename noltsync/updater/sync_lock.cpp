#include "noltsync/updater/sync_lock.h"

#include <cstdio>

#include "foundation/context/context_store.h"

namespace {
constexpr size_t kLockNameBuffer = 260;
}  // namespace

std::unique_ptr<SwmrGuard> CreateSyncLock(bool allowEveryone) {
  char name[kLockNameBuffer];
  std::snprintf(name, sizeof name, "%s_%s", "NOLTSVC_NOLTCMD_SYNC_LOCK",
                GetContextValue("ProviderId").c_str());
  auto lock = std::make_unique<SwmrGuard>();
  if (lock->Create(name, "Global") && allowEveryone) lock->AllowEveryone();
  return lock;
}
