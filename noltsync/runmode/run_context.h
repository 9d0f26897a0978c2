// Where the plug-in runs: in the service, in the command agent (alone or beside the service),
// or in simulate mode. Detected once at each start.
#pragma once
#include "foundation/strings/hx_str.h"

class RunContext {
 public:
  // Detects the run mode for the provider (logs the service-instance mutex probe).
  explicit RunContext(const HxStr& providerId);
  // For tests: the flags as given.
  RunContext(bool isSystem, bool inService, bool inCommandAgent, bool serviceUp, bool simulate,
             const HxStr& userName, const HxStr& providerId);

  bool IsSystem() const { return m_isSystem; }
  bool InService() const { return m_inService; }
  bool InCommandAgent() const { return m_inCommandAgent; }
  bool ServiceUp() const { return m_serviceUp; }
  bool Simulate() const { return m_simulate; }
  const HxStr& UserName() const { return m_userName; }
  const HxStr& ProviderId() const { return m_providerId; }

 private:
  bool m_isSystem = false;
  bool m_inService = false;
  bool m_inCommandAgent = false;
  bool m_serviceUp = false;
  bool m_simulate = false;
  HxStr m_userName;
  HxStr m_providerId;
};

// The base name of the host executable, without directory and extension.
HxStr HostBaseName();

// True when an instance of the service serves the provider: its mutex opens, or exists under
// another account (access denied).
bool IsServiceInstanceRunning(const HxStr& providerId);
