#include "noltsync/updater/nolt_updater_with_noltsvc.h"

#include "noltsync/updater/sync_lock.h"

NoltUpdaterWithNoltsvc::NoltUpdaterWithNoltsvc(const HxStr& providerId, const HxStr& server)
    : NoltUpdater(providerId, server), m_syncLock(CreateSyncLock(false)) {}

NoltUpdaterWithNoltsvc::~NoltUpdaterWithNoltsvc() = default;
