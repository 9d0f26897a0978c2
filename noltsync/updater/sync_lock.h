// The sync lock that serialises the service's update with the command side's copy:
// "NOLTSVC_NOLTCMD_SYNC_LOCK_<ProviderId>" in the "Global" namespace.
#pragma once
#include <memory>

#include "foundation/locks/swmr_guard.h"

// Creates the lock for the context's provider; `allowEveryone` opens it to every account.
std::unique_ptr<SwmrGuard> CreateSyncLock(bool allowEveryone);
