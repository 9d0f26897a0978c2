#include "noltsync/updater/nolt_updater_simulate.h"

#include "noltsync/updater/sync_lock.h"

NoltUpdaterSimulate::NoltUpdaterSimulate(const HxStr& providerId, const HxStr& server)
    : NoltUpdater(providerId, server), m_syncLock(CreateSyncLock(true)) {}

NoltUpdaterSimulate::~NoltUpdaterSimulate() = default;
