#include "noltsync/runmode/host_notification.h"

#include <cstdio>
#include <vector>

#include "foundation/log/host_logger.h"
#include "foundation/users/users.h"
#include "noltsync/entry/modlet_api.h"
#include "noltsync/entry/modlet_context.h"
#include "noltsync/runmode/run_context.h"
#include "platform/messages.h"
#include "platform/sync.h"

namespace {

constexpr size_t kObjectNameBuffer = 260;

// False when the logged-on users cannot be listed.
bool SignalCommandAgents(const ModletContext& context) {
  std::vector<HxStr> users;
  if (GetLoggedOnUserNames(users) == 0) {
    HostLog(kLogDetail, "NotifyNoltcmdSync: Failed to query user name\n");
    return false;
  }
  for (const HxStr& user : users) {
    char name[kObjectNameBuffer];
    std::snprintf(name, sizeof name, "%s_%s_%s", "Global\\NOLTCMD_SYNC_EVENT",
                  context.providerId.c_str(), user.c_str());
    auto event = platform::Event::Open(name);
    HostLog(kLogDetail,
            "NotifyNoltcmdSync: send sync notification event to noltcmd, event name=%s, "
            "handle=%d\n",
            name, event ? event->HandleValue() : 0);
    if (event) event->Set();
  }
  return true;
}

}  // namespace

void NotifyNoltcmdSync(const ModletContext& context, bool newData, intptr_t argument) {
  if (newData && argument != 0) {
    uint32_t master = MasterThreadId();
    HostLog(kLogDetail, "Posting Message: MODLET_MSG_NOTIFY to NOLTCMD. Thread Id: %d..\n",
            static_cast<int>(master));
    platform::PostThreadMessage(master, kModletMsgNotify, 0, argument);
  }
  if (context.runContext != nullptr && context.runContext->InService() &&
      !SignalCommandAgents(context)) {
    return;
  }
  if (newData) {
    char name[kObjectNameBuffer];
    std::snprintf(name, sizeof name, "MODLET_SYNC_NEW_DATA_%s_%s", context.providerId.c_str(),
                  context.userId.c_str());
    if (auto event = platform::Event::Open(name)) event->Set();
  }
}
