// The engine's two cross-process guards, named after the context's provider and user, formed
// and created once per process at first use, and the engine's guarded file move.
#pragma once
#include "foundation/locks/swmr_guard.h"
#include "foundation/strings/hx_str.h"

// "NOLTCMD_UPLOAD_LOCK_<ProviderId>_<UserName>": taken by the file move of queued uploads.
SwmrGuard& UploadLock();
// "NOLTCMD_READWRITE_LOCK_<ProviderId>_<UserName>": taken by the updater around its steps.
SwmrGuard& ReadWriteLock();

// Moves a file, under the upload lock for writing (10 s) when `useLock` is set. When the move
// fails because a path is missing or the target exists, the file is copied through the source's
// transfer object and the source deleted. True when the file arrived.
bool MoveFileGuarded(const HxStr& source, const HxStr& target, bool useLock);
