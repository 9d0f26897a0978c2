// noltcmd: the command agent. Runs the plug-in for the logged-on user, and answers the
// background transfer service's "/bitsjobwakeup EVENT JOBID" by signalling the job's event.
#include <cstdio>
#include <string>
#include <vector>

#include "hosts/common/host_runner.h"
#include "hosts/common/plugin_loader.h"
#include "platform/sandbox.h"

namespace {

constexpr const char* kUsage =
    "usage: noltcmd --provider ID [--user NAME] [--plugin PATH] [--log FILE] [--quiet]\n"
    "       noltcmd /bitsjobwakeup \"EVENT\" JOBID\n";

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv + 1, argv + argc);
  if (!arguments.empty() && arguments[0] == "/bitsjobwakeup") {
    if (arguments.size() < 2) {
      std::fputs(kUsage, stderr);
      return 1;
    }
    return SignalWakeupEvent(arguments[1], arguments.size() > 2 ? arguments[2] : "");
  }

  HostOptions options;
  options.hostName = "noltcmd";
  std::string reason;
  if (!ParseHostArguments(arguments, options, reason)) {
    std::fprintf(stderr, "noltcmd: %s\n%s", reason.c_str(), kUsage);
    return 1;
  }
  if (options.userId.empty()) options.userId = platform::ProcessUserName();
  if (options.pluginPath.empty()) options.pluginPath = DefaultPluginPath();
  return RunHost(options);
}
