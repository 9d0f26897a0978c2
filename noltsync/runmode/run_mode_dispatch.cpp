#include "noltsync/runmode/run_mode_dispatch.h"

#include <memory>

#include "foundation/log/host_logger.h"
#include "noltsync/engine/sync_loops.h"
#include "noltsync/entry/modlet_context.h"
#include "noltsync/runmode/run_context.h"
#include "noltsync/updater/nolt_updater_in_noltsvc.h"
#include "noltsync/updater/nolt_updater_simulate.h"
#include "noltsync/updater/nolt_updater_with_noltsvc.h"
#include "noltsync/uploader/nolt_uploader.h"

namespace {

std::unique_ptr<NoltUpdater> MakeUpdater(RunMode mode, const HxStr& providerId,
                                         const HxStr& server) {
  switch (mode) {
    case RunMode::kSimulate:
      return std::make_unique<NoltUpdaterSimulate>(providerId, server);
    case RunMode::kCommandAgentWithService:
      return std::make_unique<NoltUpdaterWithNoltsvc>(providerId, server);
    case RunMode::kService:
      return std::make_unique<NoltUpdaterInNoltsvc>(providerId, server);
    default:
      return std::make_unique<NoltUpdater>(providerId, server);
  }
}

}  // namespace

HxStr UserIdWithoutBlanks(const HxStr& userId) {
  HxStr name = userId;
  name.Replace(' ', '_');
  return name;
}

RunMode DetermineRunMode(const RunContext& run) {
  if (run.InCommandAgent() && run.Simulate()) {
    HostLog(kLogDetail, "IsInNoltSimulate mode\n");
    return RunMode::kSimulate;
  }
  if (run.InCommandAgent() && !run.ServiceUp()) {
    HostLog(kLogDetail, "IsInNoltcmdAlone\n");
    return RunMode::kCommandAgentAlone;
  }
  if (run.InCommandAgent()) {
    HostLog(kLogDetail, "IsInNoltCmdWithNoltsvcRunning\n");
    return RunMode::kCommandAgentWithService;
  }
  if (run.IsSystem() && run.InService()) {
    HostLog(kLogDetail, "IsInNoltsvcService\n");
    return RunMode::kService;
  }
  HostLog(kLogError, "Could not determine runtext context: IsSys=%d InCmd=%d InSvc=%d SvcUp=%d\n",
          run.IsSystem() ? 1 : 0, run.InCommandAgent() ? 1 : 0, run.InService() ? 1 : 0,
          run.ServiceUp() ? 1 : 0);
  return RunMode::kUndetermined;
}

void RunModeDispatch(ModletContext& context) {
  if (context.runContext == nullptr) return;
  const RunMode mode = DetermineRunMode(*context.runContext);
  if (mode == RunMode::kUndetermined) return;
  const bool notified = mode == RunMode::kCommandAgentWithService;
  std::unique_ptr<NoltUpdater> updater = MakeUpdater(mode, context.providerId, context.server);
  updater->SetUserName(UserIdWithoutBlanks(context.userId));
  auto uploader = std::make_unique<NoltUploader>(context.providerId, context.userServer, notified);
  uploader->SetUserName(UserIdWithoutBlanks(context.userId));
  if (notified) {
    RunNotifiedLoop(context, *updater, *uploader);
  } else {
    RunScheduledLoop(context, *updater, *uploader);
  }
  uploader.reset();
  updater.reset();
}
