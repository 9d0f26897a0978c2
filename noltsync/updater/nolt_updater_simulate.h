// The updater of simulate mode: filter outcomes come from the per-user "SimulateProfileKey"
// instead of the manifest's filter scripts. That source is not built yet; until then it
// updates as the base does.
#pragma once
#include <memory>

#include "foundation/locks/swmr_guard.h"
#include "noltsync/updater/nolt_updater.h"

class NoltUpdaterSimulate : public NoltUpdater {
 public:
  NoltUpdaterSimulate(const HxStr& providerId, const HxStr& server);
  ~NoltUpdaterSimulate() override;

 private:
  // Made like the service's sync lock, but never taken.
  std::unique_ptr<SwmrGuard> m_syncLock;
};
