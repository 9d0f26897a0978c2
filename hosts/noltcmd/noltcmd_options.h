// The host options on noltcmd's command line, read the same way for a run and for a check.
#pragma once
#include <string>
#include <vector>

#include "hosts/common/host_runner.h"

// Reads the options (host name "noltcmd", the process user when no --user is given). On a
// malformed line prints the reason and `usage` on standard error and returns false.
bool ReadNoltcmdOptions(const std::vector<std::string>& arguments, const char* usage,
                        HostOptions& options);
