#include "noltsync/runmode/run_context.h"

#include "foundation/log/host_logger.h"
#include "foundation/registry/provider_store.h"
#include "foundation/users/users.h"
#include "platform/errors.h"
#include "platform/process.h"
#include "platform/sandbox.h"
#include "platform/sync.h"

namespace {

constexpr const char* kServiceSimulateKey = "Noltsvc\\Modlets\\Tidesync";
constexpr const char* kCommandSimulateKey = "Noltcmd\\Modlets\\Tidesync";

bool ReadSimulateMode(bool runsAsSystem) {
  bool simulate = false;
  provider_store::ReadBool(runsAsSystem ? kServiceSimulateKey : kCommandSimulateKey,
                           "SimulateMode", simulate, false);
  return simulate;
}

}  // namespace

HxStr HostBaseName() {
  HxStr path(platform::HostExecutablePath());
  int slash = path.ReverseFind('/');
  HxStr name = slash >= 0 ? path.Mid(slash + 1, path.GetLength()) : path;
  int dot = name.ReverseFind('.');
  return dot > 0 ? name.Mid(0, dot) : name;
}

bool IsServiceInstanceRunning(const HxStr& providerId) {
  HxStr name = HxStr("Global\\__noltsvc__") + providerId;
  auto mutex = platform::Mutex::Open(name);
  uint32_t lastError = platform::LastError();
  HostLog(kLogDetail, "Open noltsvc instance mutex, name=%s, handle=%d\n", name.c_str(),
          mutex ? mutex->HandleValue() : 0);
  return mutex != nullptr || lastError == platform::kErrorAlreadyExists ||
         lastError == platform::kErrorAccessDenied;
}

RunContext::RunContext(const HxStr& providerId)
    : m_userName(platform::ProcessUserName()), m_providerId(providerId) {
  HxStr host = HostBaseName();
  m_isSystem = IsSystemAccountName(m_userName);
  m_inService = host.CompareNoCase("noltsvc") == 0;
  m_inCommandAgent = host.CompareNoCase("noltcmd") == 0;
  m_serviceUp = IsServiceInstanceRunning(providerId);
  // An unavailable user name counts as the system account for the choice of subkey.
  m_simulate = ReadSimulateMode(m_isSystem || m_userName.IsEmpty());
}

RunContext::RunContext(bool isSystem, bool inService, bool inCommandAgent, bool serviceUp,
                       bool simulate, const HxStr& userName, const HxStr& providerId)
    : m_isSystem(isSystem),
      m_inService(inService),
      m_inCommandAgent(inCommandAgent),
      m_serviceUp(serviceUp),
      m_simulate(simulate),
      m_userName(userName),
      m_providerId(providerId) {}
