// noltcmd's connection checks: one transfer through the agent's own HTTP layer, with the proxy
// settings of the user's store, to see whether a server can be reached as a sync would reach it.
#pragma once
#include <string>
#include <vector>

// True when `arguments` start with one of the check commands (--get, --get-if-newer, --head,
// --post).
bool IsConnectionCheck(const std::vector<std::string>& arguments);

// Runs the check: prints "HTTP return code: N" and returns 0 on success, 1 on failure (the last
// recorded error then goes to standard error). A malformed command line prints `usage` and
// returns 1. The check's operands may be followed by [--provider ID] [--user NAME] [--log FILE]
// [--quiet].
int RunConnectionCheck(const std::vector<std::string>& arguments, const char* usage);
