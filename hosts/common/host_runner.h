// What both host agents do: load the plug-in, run one context per provider on threads of their
// own, report the plug-in's notifications, and turn termination requests into ModletStop.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

#include "platform/sync.h"

// One wait of the host takes the stop event and two objects per provider.
inline constexpr size_t kMaxProviders = (platform::kMaximumWaitObjects - 1) / 2;

struct HostOptions {
  std::string hostName;                // "noltcmd" or "noltsvc", for usage and reports
  std::vector<std::string> providers;  // one context each
  std::string userId;                  // the user id handed to ModletInitContext
  std::string pluginPath;
  std::string logPath;                 // empty: standard error
  unsigned logMode = 0600;             // the modes of a log file the host creates
  std::string logGroup;                // and its group, where the system has it
  bool quiet = false;                  // only warnings and errors
  bool holdServiceMutex = false;       // the service holds "__noltsvc__<provider>" while serving
};

// Reads "--provider ID [--provider ID ...] [--user NAME] [--plugin PATH] [--log FILE] [--quiet]".
// False with a reason for anything else, or for more than kMaxProviders providers.
bool ParseHostArguments(const std::vector<std::string>& arguments, HostOptions& options,
                        std::string& reason);

// Runs until every context's ModletStart returned. Exit status: 0, or 1 when a start ended in
// state -1 or the plug-in could not be run.
int RunHost(const HostOptions& options);

// "/bitsjobwakeup EVENT JOBID": signals the named event. 0, or 1 when no such event exists.
int SignalWakeupEvent(const std::string& eventName, const std::string& jobId);
