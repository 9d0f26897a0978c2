#include "hosts/noltcmd/noltcmd_options.h"

#include <cstdio>

#include "platform/sandbox.h"

bool ReadNoltcmdOptions(const std::vector<std::string>& arguments, const char* usage,
                        HostOptions& options) {
  options.hostName = "noltcmd";
  std::string reason;
  if (!ParseHostArguments(arguments, options, reason)) {
    std::fprintf(stderr, "noltcmd: %s\n%s", reason.c_str(), usage);
    return false;
  }
  if (options.userId.empty()) options.userId = platform::ProcessUserName();
  return true;
}
