// The engine's two cross-process guards, named after the context's provider and user, formed
// and created once per process at first use.
#pragma once
#include "foundation/locks/swmr_guard.h"
#include "foundation/strings/hx_str.h"

// "NOLTCMD_UPLOAD_LOCK_<ProviderId>_<UserName>": taken by the file move of queued uploads.
SwmrGuard& UploadLock();
// "NOLTCMD_READWRITE_LOCK_<ProviderId>_<UserName>": taken by the updater around its steps.
SwmrGuard& ReadWriteLock();
