// The updater inside the service: serialises its update with the command side through the
// sync lock and takes only machine-level files (that selection is not built yet).
#pragma once
#include <memory>

#include "foundation/locks/swmr_guard.h"
#include "noltsync/updater/nolt_updater.h"

class NoltUpdaterInNoltsvc : public NoltUpdater {
 public:
  NoltUpdaterInNoltsvc(const HxStr& providerId, const HxStr& server);
  ~NoltUpdaterInNoltsvc() override;

  // The base update under the writer side of the sync lock (after at most 5 s of waiting).
  int DoUpdate() override;

 protected:
  // The service runs as the system account: "{private_system_user}".
  const char* PrivateUserPlaceholder() const override;

 private:
  std::unique_ptr<SwmrGuard> m_syncLock;
};
