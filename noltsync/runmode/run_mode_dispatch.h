// Picks the updater variant and the loop for the run mode. The first matching row wins:
// simulate in the command agent, the command agent alone, the command agent beside the
// service, the service; otherwise the run mode cannot be determined.
#pragma once
#include "foundation/strings/hx_str.h"

struct ModletContext;
class RunContext;

enum class RunMode {
  kSimulate,                 // command agent, SimulateMode set
  kCommandAgentAlone,        // command agent, no service for the provider
  kCommandAgentWithService,  // command agent, the service serves the provider
  kService,                  // system account in the service host
  kUndetermined,
};

// Classifies the run context and logs the row's line (level 1, or the level-8 line when no row
// matches).
RunMode DetermineRunMode(const RunContext& runContext);

// The user id as the updater and uploader know it: every blank replaced by "_".
HxStr UserIdWithoutBlanks(const HxStr& userId);

// Runs the dispatch for a started context: determines the run mode, then builds the updater
// and uploader of that mode and runs its loop until it ends (the notified loop for the command
// agent beside the service, else the scheduled loop).
void RunModeDispatch(ModletContext& context);
