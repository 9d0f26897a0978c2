#include "noltsync/engine/sync_locks.h"

#include <cstdio>

#include "foundation/context/context_store.h"

namespace {

constexpr size_t kLockNameBuffer = 260;

// A guard named at first use after the context's provider and user, so that its name stays
// fixed for the process. It lives as long as the plug-in: a leaked one would be lost, handles
// and all, when the host unloads the library.
struct NamedGuard {
  explicit NamedGuard(const char* prefix) {
    char name[kLockNameBuffer];
    std::snprintf(name, sizeof name, "%s_%s_%s", prefix, GetContextValue("ProviderId").c_str(),
                  GetContextValue("UserName").c_str());
    guard.Create(name);
  }
  SwmrGuard guard;
};

}  // namespace

SwmrGuard& UploadLock() {
  static NamedGuard lock("NOLTCMD_UPLOAD_LOCK");
  return lock.guard;
}

SwmrGuard& ReadWriteLock() {
  static NamedGuard lock("NOLTCMD_READWRITE_LOCK");
  return lock.guard;
}
