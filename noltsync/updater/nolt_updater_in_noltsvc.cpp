#include "noltsync/updater/nolt_updater_in_noltsvc.h"

#include "noltsync/updater/sync_lock.h"

namespace {
constexpr uint32_t kSyncLockWaitMs = 5000;
}  // namespace

NoltUpdaterInNoltsvc::NoltUpdaterInNoltsvc(const HxStr& providerId, const HxStr& server)
    : NoltUpdater(providerId, server), m_syncLock(CreateSyncLock(true)) {}

NoltUpdaterInNoltsvc::~NoltUpdaterInNoltsvc() = default;

int NoltUpdaterInNoltsvc::DoUpdate() {
  // A time-out is no error: the update runs all the same.
  m_syncLock->AcquireWrite(kSyncLockWaitMs);
  const int status = NoltUpdater::DoUpdate();
  m_syncLock->ReleaseWrite();
  return status;
}

const char* NoltUpdaterInNoltsvc::PrivateUserPlaceholder() const {
  return "{private_system_user}";
}
