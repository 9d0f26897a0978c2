#include "hosts/common/host_runner.h"

#include <cstdio>
#include <memory>
#include <thread>

#include "hosts/common/host_log.h"
#include "hosts/common/plugin_loader.h"
#include "platform/errors.h"
#include "platform/messages.h"
#include "platform/sync.h"
#include "platform/termination.h"

namespace {

constexpr const char* kModletName = "Tidesync";

// One provider served by the host: its context, the thread that runs ModletStart, and the
// objects the host watches for it.
struct ServedContext {
  std::string providerId;
  void* handle = nullptr;
  std::unique_ptr<platform::Mutex> serviceMutex;
  std::unique_ptr<platform::Event> newDataEvent;
  std::unique_ptr<platform::Event> startReturned;  // unnamed, manual reset
  std::thread startThread;
  bool returned = false;
};

std::string StripQuotes(const std::string& text) {
  if (text.size() >= 2 && text.front() == '"' && text.back() == '"') {
    return text.substr(1, text.size() - 2);
  }
  return text;
}

void ReportNotifyMessage(const platform::ThreadMessage& message) {
  const auto* record = reinterpret_cast<const SyncNotifyRecord*>(message.lParam);
  if (record == nullptr) {
    HostReport(2, "MODLET_MSG_NOTIFY received without a record");
    return;
  }
  HostReport(2, "MODLET_MSG_NOTIFY received: kind=%u name=%s loop thread=%u provider=%s",
             static_cast<unsigned>(record->kind), record->modletName ? record->modletName : "",
             static_cast<unsigned>(record->loopThreadId),
             record->providerId ? record->providerId : "");
}

void DrainMessages() {
  platform::ThreadMessage message;
  while (platform::PeekThreadMessage(message, true)) {
    if (message.message == kModletMsgNotify) ReportNotifyMessage(message);
    platform::DispatchThreadMessage(message);
  }
}

bool TakeServiceMutex(ServedContext& served) {
  std::string name = "Global\\__noltsvc__" + served.providerId;
  served.serviceMutex = platform::Mutex::Create(name, true);
  if (served.serviceMutex == nullptr) {
    HostReport(8, "Cannot create the service-instance mutex %s (error %u)", name.c_str(),
               platform::LastError());
    return false;
  }
  if (platform::LastError() == platform::kErrorAlreadyExists &&
      platform::WaitForOne(*served.serviceMutex, 0) == platform::kWaitTimeout) {
    HostReport(8, "Another service already serves provider %s", served.providerId.c_str());
    return false;
  }
  return true;
}

// Asks every context still running to stop.
void StopRunning(const ModletApi& api, std::vector<ServedContext>& served) {
  for (ServedContext& context : served) {
    if (!context.returned) api.stop(context.handle);
  }
}

// Stops every context still running and waits for its start to return.
void StopAndJoin(const ModletApi& api, std::vector<ServedContext>& served) {
  StopRunning(api, served);
  for (ServedContext& context : served) {
    if (context.returned) continue;
    context.startThread.join();
    context.returned = true;
  }
}

// Runs every context until its start returned; returns whether any ended in state -1.
bool ServeUntilReturned(const ModletApi& api, std::vector<ServedContext>& served,
                        platform::Event& stopRequested) {
  size_t running = served.size();
  while (running > 0) {
    std::vector<platform::WaitObject*> objects{&stopRequested};
    std::vector<ServedContext*> owners{nullptr};
    for (ServedContext& context : served) {
      if (context.returned) continue;
      objects.push_back(context.newDataEvent.get());
      owners.push_back(&context);
      objects.push_back(context.startReturned.get());
      owners.push_back(&context);
    }
    uint32_t index = platform::WaitForAny(objects, platform::kInfinite, true);
    if (index == objects.size()) {
      DrainMessages();
    } else if (index == 0) {
      HostReport(2, "Termination requested: stopping the plug-in");
      StopRunning(api, served);
    } else if (index < objects.size()) {
      ServedContext& context = *owners[index];
      if (objects[index] == context.newDataEvent.get()) {
        HostReport(2, "New-data event fired: MODLET_SYNC_NEW_DATA_%s",
                   context.providerId.c_str());
      } else {
        context.startThread.join();
        context.returned = true;
        --running;
      }
    } else {
      HostReport(8, "Waiting failed (error %u): stopping the plug-in", platform::LastError());
      StopAndJoin(api, served);
      return true;
    }
  }
  DrainMessages();
  bool failed = false;
  for (ServedContext& context : served) {
    int state = api.getState(context.handle);
    HostReport(2, "ModletStart returned for provider %s with state %d",
               context.providerId.c_str(), state);
    failed = failed || state == kModletStateFailed;
  }
  return failed;
}

}  // namespace

bool ParseHostArguments(const std::vector<std::string>& arguments, HostOptions& options,
                        std::string& reason) {
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    bool hasValue = i + 1 < arguments.size();
    if (argument == "--quiet") {
      options.quiet = true;
    } else if ((argument == "--provider" || argument == "--user" || argument == "--plugin" ||
                argument == "--log") && hasValue) {
      const std::string& value = arguments[++i];
      if (argument == "--provider") options.providers.push_back(value);
      if (argument == "--user") options.userId = value;
      if (argument == "--plugin") options.pluginPath = value;
      if (argument == "--log") options.logPath = value;
    } else {
      reason = "unexpected argument: " + argument;
      return false;
    }
  }
  if (options.providers.empty()) {
    reason = "--provider is required";
    return false;
  }
  if (options.providers.size() > kMaxProviders) {
    reason = "at most " + std::to_string(kMaxProviders) + " providers";
    return false;
  }
  return true;
}

int RunHost(const HostOptions& options) {
  // The signal thread outlives this function (a request may come while the host returns), so
  // it shares the event rather than pointing at it.
  std::shared_ptr<platform::Event> stopRequested = platform::Event::Create("", false, false);
  if (stopRequested == nullptr) {
    std::fprintf(stderr, "%s: cannot create the stop event\n", options.hostName.c_str());
    return 1;
  }
  platform::HandleTerminationRequests([stopRequested] { stopRequested->Set(); });
  if (!OpenHostLog(options.logPath, options.quiet, options.logMode, options.logGroup)) {
    std::fprintf(stderr, "%s: cannot open log %s\n", options.hostName.c_str(),
                 options.logPath.c_str());
    return 1;
  }
  platform::SharedLibrary library;
  ModletApi api;
  std::string reason;
  if (!LoadModletApi(library, options.pluginPath, api, reason)) {
    HostReport(8, "%s: cannot load the plug-in %s: %s", options.hostName.c_str(),
               options.pluginPath.c_str(), reason.c_str());
    return 1;
  }
  platform::EnsureMessageQueue();
  uint32_t masterThread = platform::CurrentThreadId();
  HostReport(2, "%s %u: serving %zu provider(s) as user %s", options.hostName.c_str(),
             platform::CurrentProcessId(), options.providers.size(), options.userId.c_str());

  char address[32];
  std::snprintf(address, sizeof address, "%p", reinterpret_cast<void*>(&HostLoggerCallback));
  api.setProperty(nullptr, kPropertyLogger, address);
  api.init();

  std::vector<ServedContext> served(options.providers.size());
  for (size_t i = 0; i < served.size(); ++i) {
    ServedContext& context = served[i];
    context.providerId = options.providers[i];
    if (options.holdServiceMutex && !TakeServiceMutex(context)) return 1;
    context.newDataEvent = platform::Event::Create(
        "MODLET_SYNC_NEW_DATA_" + context.providerId + "_" + options.userId, false, false);
    context.startReturned = platform::Event::Create("", true, false);
    context.handle = api.initContext(context.providerId.c_str(), options.userId.c_str());
    if (context.handle == nullptr || !context.newDataEvent || !context.startReturned) {
      HostReport(8, "Cannot create the context of provider %s", context.providerId.c_str());
      return 1;
    }
    api.setProperty(context.handle, kPropertyMasterThreadId, std::to_string(masterThread).c_str());
    api.setProperty(context.handle, kPropertyModletName, kModletName);
  }
  for (ServedContext& context : served) {
    context.startThread = std::thread([&api, &context] {
      api.start(context.handle);
      context.startReturned->Set();
    });
  }

  bool failed = ServeUntilReturned(api, served, *stopRequested);
  for (ServedContext& context : served) {
    api.disposeContext(context.handle);
    if (context.serviceMutex) context.serviceMutex->Release();
  }
  api.dispose();
  CloseHostLog();
  return failed ? 1 : 0;
}

int SignalWakeupEvent(const std::string& eventName, const std::string& jobId) {
  std::string name = StripQuotes(eventName);
  auto event = platform::Event::Open(name);
  if (event == nullptr) {
    std::fprintf(stderr, "noltcmd: no event named %s (error %u); job %s not reported\n",
                 name.c_str(), platform::LastError(), jobId.c_str());
    return 1;
  }
  return event->Set() ? 0 : 1;
}
