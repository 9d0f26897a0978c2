#include "noltsync/entry/start_sequence.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "foundation/context/context_store.h"
#include "foundation/log/host_logger.h"
#include "foundation/registry/provider_store.h"
#include "foundation/strings/url_credentials.h"
#include "noltsync/entry/modlet_api.h"
#include "noltsync/entry/modlet_context.h"
#include "noltsync/runmode/run_context.h"
#include "noltsync/runmode/run_mode_dispatch.h"
#include "platform/process.h"

namespace {

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

constexpr size_t kUserServerBuffer = 261;  // 260 characters and the terminator

// Loads the provider's context, takes the server locations from it and the registry, and
// detects the run mode.
void PrepareContext(ModletContext& context) {
  LoadContext(context.providerId, context.server, context.userId, true);
  context.server = GetValue("SdcContext", "DnaServer");
  char userServer[kUserServerBuffer] = {};
  provider_store::ReadString(nullptr, context.providerId.c_str(), userServer, sizeof userServer,
                             true);
  context.userServer = userServer;
  context.runContext = std::make_unique<RunContext>(context.providerId);
}

void RunStartSteps(ModletContext& context) {
  HostLog(kLogDetail, "ModletStart entered\n");
  PrepareContext(context);
  context.state = kModletStateRunning;
  const std::string shownServer = MaskUrlCredentials(context.server);
  HostLog(kLogInfo, "Modlet Started: ProviderId=%s UserId=%s Server=%s\n",
          context.providerId.c_str(), context.userId.c_str(), shownServer.c_str());
  if (!IsValidServerLocation(context.server)) {
    HostLog(kLogError, "Server path not valid: %s\n", shownServer.c_str());
  } else {
    RunModeDispatch(context);
  }
  context.state = kModletStateReturned;
  HostLog(kLogInfo, "ModletStart exited\n");
}

}  // namespace

bool IsValidServerLocation(std::string_view server) {
  constexpr std::array<std::string_view, 3> kSchemes = {"http:", "https:", "ftp:"};
  for (std::string_view scheme : kSchemes) {
    if (StartsWithNoCase(server, scheme)) return true;
  }
  return false;
}

void RunModletStart(ModletContext& context) {
  uint32_t code = platform::GuardedCall([&context] { RunStartSteps(context); });
  if (code != 0) {
    HostLog(kLogError, "ModletStart: Exception code=%8.8x\n", code);
    context.state = kModletStateFailed;
  }
}
