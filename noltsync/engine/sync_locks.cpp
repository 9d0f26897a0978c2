#include "noltsync/engine/sync_locks.h"

#include <cstdio>

#include "foundation/context/context_store.h"
#include "foundation/log/host_logger.h"
#include "foundation/transfer/hx_remote_object.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/sync.h"

namespace {

constexpr size_t kLockNameBuffer = 260;
constexpr uint32_t kUploadLockTimeoutMs = 10000;

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

bool IsMoveFallbackError(uint32_t error) {
  return error == platform::kErrorPathNotFound || error == platform::kErrorBadNetPath ||
         error == platform::kErrorFileExists || error == platform::kErrorAlreadyExists;
}

bool CopyThenDelete(const HxStr& source, const HxStr& target) {
  HxRemoteObjectPtr object = CreateRemoteObject(source);
  if (object == nullptr || !object->CopyTo(target, 0)) return false;
  return platform::DeleteFile(ToLocalPath(source).c_str());
}

}  // namespace

SwmrGuard& UploadLock() {
  static NamedGuard lock("NOLTCMD_UPLOAD_LOCK");
  return lock.guard;
}

SwmrGuard& ReadWriteLock() {
  static NamedGuard lock("NOLTCMD_READWRITE_LOCK");
  return lock.guard;
}

bool MoveFileGuarded(const HxStr& source, const HxStr& target, bool useLock) {
  if (useLock && UploadLock().AcquireWrite(kUploadLockTimeoutMs) == platform::kWaitTimeout) {
    HostLog(kLogWarning, "** Failed to obtain upload lock...request timed out **\n");
    return false;
  }
  bool moved = platform::MoveFile(ToLocalPath(source).c_str(), ToLocalPath(target).c_str());
  uint32_t moveError = moved ? 0 : platform::LastError();
  if (!moved && IsMoveFallbackError(moveError)) moved = CopyThenDelete(source, target);
  if (!moved) {
    HostLog(kLogWarning, "Failed to move file [%s]->[%s]. Error Code: %d\n", source.c_str(),
            target.c_str(), static_cast<int>(moveError));
  }
  if (useLock) UploadLock().ReleaseWrite();
  return moved;
}
