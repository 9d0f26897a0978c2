// noltsvc: the service. Runs the plug-in as the system account, one context per provider, and
// holds each provider's service-instance mutex while it serves it.
#include <cstdio>
#include <string>
#include <vector>

#include "hosts/common/host_runner.h"
#include "hosts/common/plugin_loader.h"
#include "platform/sandbox.h"

int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv + 1, argv + argc);
  HostOptions options;
  options.hostName = "noltsvc";
  options.holdServiceMutex = true;
  std::string reason;
  if (!ParseHostArguments(arguments, options, reason)) {
    std::fprintf(stderr,
                 "noltsvc: %s\nusage: noltsvc --provider ID [--provider ID ...] [--plugin PATH] "
                 "[--log FILE] [--quiet]\n",
                 reason.c_str());
    return 1;
  }
  options.userId = platform::kSystemAccountName;
  if (options.pluginPath.empty()) options.pluginPath = DefaultPluginPath();
  return RunHost(options);
}
