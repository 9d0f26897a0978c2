#include "foundation/users/users.h"

#include <cstring>
#include <string>

#include "foundation/log/hx_trace.h"
#include "foundation/registry/provider_store.h"
#include "platform/errors.h"
#include "platform/identity.h"
#include "platform/messages.h"
#include "platform/sandbox.h"

namespace {

// Values of "UserIdType".
enum UserIdType : uint32_t {
  kUserIdProcess = 0,
  kUserIdNetWare = 1,
  kUserIdVines = 2,
  kUserIdSystem = 3,
};

std::string UserNameByMethod(uint32_t method) {
  std::string name;
  switch (method) {
    case kUserIdNetWare:
    case kUserIdVines:
      // The directory services' client libraries do not exist on this system: no name, and
      // the caller falls back to the system account.
      break;
    case kUserIdSystem:
      name = GetSystemAccountName().c_str();
      break;
    default:
      name = platform::ProcessUserName();
      break;
  }
  return name;
}

}  // namespace

bool TuGetUserName(char* buffer, size_t size) {
  uint32_t method = kUserIdProcess;
  provider_store::ReadDword("General", "UserIdType", method, false);
  std::string name = UserNameByMethod(method);
  if (name.empty()) name = GetSystemAccountName().c_str();
  if (buffer == nullptr || size == 0) return false;
  const size_t copied = name.size() < size ? name.size() : size - 1;
  std::memcpy(buffer, name.data(), copied);
  buffer[copied] = '\0';
  HxTrace::Instance().TraceL1(kTraceGeneral, "TuGetUserName[%x]: userName = %s\n",
                              platform::CurrentThreadId(), buffer);
  return copied == name.size();
}

HxStr GetSystemAccountName() { return HxStr(platform::kSystemAccountName); }

bool IsSystemAccountName(std::string_view userName) {
  return CompareNoCase(userName, platform::kSystemAccountName) == 0;
}

bool IsTerminalServer() { return true; }

size_t GetLoggedOnUserNames(std::vector<HxStr>& names) {
  names.clear();
  HxTrace& trace = HxTrace::Instance();
  if (IsTerminalServer()) {
    std::vector<std::string> sessions;
    if (platform::LoggedOnUserNames(sessions)) {
      sessions.insert(sessions.begin(), std::string());  // the services' session
      for (const std::string& name : sessions) {
        trace.TraceL1(kTraceGeneral, "Succeeded to query user name (%s) from session\n",
                      name.c_str());
        names.emplace_back(name);
      }
      return names.size();
    }
    trace.TraceL1(kTraceGeneral, "Failed to call WTSEnumerateSessions(), %d\n",
                  static_cast<int>(platform::LastError()));
    trace.TraceL1(kTraceGeneral, "Failed, EnumerateSessions()\n");
  }
  // Without sessions the name would come from the interactive user's token, which this system
  // does not have.
  return 0;
}
