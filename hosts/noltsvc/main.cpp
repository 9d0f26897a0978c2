// noltsvc: the service. Runs the plug-in as the system account, one context per provider, and
// holds each provider's service-instance mutex while it serves it.
#include <cstdio>
#include <string>
#include <vector>

#include "foundation/log/out_of_memory.h"
#include "hosts/common/host_runner.h"
#include "hosts/common/plugin_loader.h"
#include "platform/pending_operations.h"
#include "platform/sandbox.h"

namespace {

// Carries out the operations deferred to this restart; the service starts at boot.
bool RunPending() {
  platform::PendingOperationsOutcome outcome;
  if (!platform::RunPendingOperations(outcome)) {
    std::fprintf(stderr, "noltsvc: cannot read the pending operations\n");
    return false;
  }
  if (outcome.failed > 0) {
    std::fprintf(stderr, "noltsvc: %zu pending operations done, %zu failed\n", outcome.done,
                 outcome.failed);
  }
  return outcome.failed == 0;
}

}  // namespace

int main(int argc, char** argv) {
  InstallOutOfMemoryHandler();
  std::vector<std::string> arguments(argv + 1, argv + argc);
  if (arguments.size() == 1 && arguments[0] == "--run-pending") return RunPending() ? 0 : 1;
  HostOptions options;
  options.hostName = "noltsvc";
  options.holdServiceMutex = true;
  // Administrators read the service's log through the group that reads system logs.
  options.logMode = 0640;
  options.logGroup = "adm";
  std::string reason;
  if (!ParseHostArguments(arguments, options, reason)) {
    std::fprintf(stderr,
                 "noltsvc: %s\nusage: noltsvc --provider ID [--provider ID ...] [--plugin PATH] "
                 "[--log FILE] [--quiet]\n       noltsvc --run-pending\n",
                 reason.c_str());
    return 1;
  }
  options.userId = platform::kSystemAccountName;
  if (options.pluginPath.empty()) options.pluginPath = DefaultPluginPath();
  RunPending();
  return RunHost(options);
}
