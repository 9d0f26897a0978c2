// The updater of the command agent while the service runs: copies what the service fetched
// from the common data directory instead of downloading a manifest, takes only user-level
// files, and keeps the copied files from being pruned. The copy, the selection and the prune
// exception are not built yet; until then it updates as the base does.
#pragma once
#include <memory>

#include "foundation/locks/swmr_guard.h"
#include "noltsync/updater/nolt_updater.h"

class NoltUpdaterWithNoltsvc : public NoltUpdater {
 public:
  NoltUpdaterWithNoltsvc(const HxStr& providerId, const HxStr& server);
  ~NoltUpdaterWithNoltsvc() override;

 private:
  // Taken for reading while copying; this side does not open it to every account.
  std::unique_ptr<SwmrGuard> m_syncLock;
};
