#include "noltsync/runmode/run_mode_dispatch.h"

#include "foundation/log/host_logger.h"
#include "noltsync/entry/modlet_context.h"
#include "noltsync/runmode/run_context.h"

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
  // The updater variants, the uploader and the sync loops join here as the engine grows; until
  // then the dispatch ends after the run mode is known.
  DetermineRunMode(*context.runContext);
}
