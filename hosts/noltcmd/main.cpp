// noltcmd: the command agent. Runs the plug-in for the logged-on user, and answers the
// background transfer service's "/bitsjobwakeup EVENT JOBID" by signalling the job's event, and
// checks a connection with one transfer through the agent's HTTP layer.
#include <cstdio>
#include <string>
#include <vector>

#include "foundation/log/out_of_memory.h"
#include "hosts/common/host_runner.h"
#include "hosts/common/plugin_loader.h"
#include "hosts/noltcmd/connection_check.h"
#include "hosts/noltcmd/noltcmd_options.h"

namespace {

constexpr const char* kUsage =
    "usage: noltcmd --provider ID [--user NAME] [--plugin PATH] [--log FILE] [--quiet]\n"
    "       noltcmd /bitsjobwakeup \"EVENT\" JOBID\n"
    "       noltcmd --get URL FILE | --get-if-newer URL FILE | --head URL | --post FILE URL\n"
    "               [--provider ID] [--user NAME] [--log FILE] [--quiet]\n";

}  // namespace

int main(int argc, char** argv) {
  InstallOutOfMemoryHandler();
  std::vector<std::string> arguments(argv + 1, argv + argc);
  if (!arguments.empty() && arguments[0] == "/bitsjobwakeup") {
    if (arguments.size() < 2) {
      std::fputs(kUsage, stderr);
      return 1;
    }
    return SignalWakeupEvent(arguments[1], arguments.size() > 2 ? arguments[2] : "");
  }
  if (IsConnectionCheck(arguments)) return RunConnectionCheck(arguments, kUsage);

  HostOptions options;
  if (!ReadNoltcmdOptions(arguments, kUsage, options)) return 1;
  if (options.pluginPath.empty()) options.pluginPath = DefaultPluginPath();
  return RunHost(options);
}
