#include "noltsync/engine/sync_loops.h"

#include <cstdio>
#include <memory>
#include <vector>

#include "foundation/context/context_store.h"
#include "foundation/log/host_logger.h"
#include "noltsync/engine/schedule.h"
#include "noltsync/engine/sync_cycles.h"
#include "noltsync/engine/sync_settings.h"
#include "noltsync/engine/sync_state.h"
#include "noltsync/entry/modlet_context.h"
#include "noltsync/runmode/run_context.h"
#include "noltsync/updater/nolt_updater.h"
#include "noltsync/uploader/nolt_uploader.h"
#include "platform/clock.h"
#include "platform/errors.h"
#include "platform/messages.h"
#include "platform/process.h"
#include "platform/sync.h"

namespace {

using platform::Event;
using platform::ObjectAccess;

constexpr size_t kEventNameBuffer = 260;
constexpr int64_t kMillisecondsPerSecond = 1000;
constexpr int32_t kNoTimeLimit = -1;

// The loop's own events, closed when the loop ends.
struct LoopEvents {
  std::unique_ptr<Event> syncNotification;  // notified loop only
  std::unique_ptr<Event> prune;
  std::unique_ptr<Event> bitsJob;
  std::unique_ptr<Event> bitsUploadJob;
};

// prefix + "_" + provider id + "_" + user id, cut to the 260-character buffer.
HxStr ContextEventName(const char* prefix, const ModletContext& context) {
  char name[kEventNameBuffer];
  std::snprintf(name, sizeof name, "%s_%s_%s", prefix, context.providerId.c_str(),
                context.userId.c_str());
  return HxStr(name);
}

std::unique_ptr<Event> CreatePruneEvent(const ModletContext& context) {
  const HxStr name = ContextEventName("MODLET_PRUNE", context);
  auto event = Event::Create(name, false, false);
  HostLog(kLogDetail, "Created sync prune event - %s\n", name.c_str());
  return event;
}

// The two job events carry the Everyone list: the agent that the transfer service starts may
// run under another account.
void CreateJobEvents(const ModletContext& context, LoopEvents& events) {
  const HxStr jobName = ContextEventName("BITS_JOB_EVENT", context);
  events.bitsJob = Event::Create(jobName, true, false, ObjectAccess::Everyone);
  HostLog(kLogDetail, "Created bits job event - %s\n", jobName.c_str());
  const HxStr uploadName = ContextEventName("BITS_JOB_UPLOAD_EVENT", context);
  events.bitsUploadJob = Event::Create(uploadName, true, false, ObjectAccess::Everyone);
  HostLog(kLogDetail, "Created bits job Upload event - %s\n", uploadName.c_str());
}

bool IsSystemAccount(const ModletContext& context) {
  return context.runContext != nullptr && context.runContext->IsSystem();
}

void TrimWorkingSetUnlessDisabled(const ModletContext& context) {
  if (!sync_settings::WorkingSet(IsSystemAccount(context)).disabled) platform::TrimWorkingSet();
}

// Stores the user's server setting as the context's "DnaServer" when set, and takes the
// context's value as the download server.
void RefreshServer(ModletContext& context) {
  const HxStr server = sync_settings::ServerLocationSetting(context.providerId);
  if (!server.IsEmpty()) SetContextValue("DnaServer", server);
  context.server = GetContextValue("DnaServer");
}

void LogNextSyncTime(uint32_t timeoutSeconds) {
  const int64_t span = HxTime::Span(0, 0, 0, timeoutSeconds);
  HostLog(kLogInfo, "Next Sync time in %d days %d hours %d minutes %d seconds\n",
          static_cast<int>(HxTime::Days(span)), static_cast<int>(HxTime::Hours(span)),
          static_cast<int>(HxTime::Minutes(span)), static_cast<int>(HxTime::Seconds(span)));
}

uint32_t TimeoutMs(int64_t seconds) {
  if (seconds < 0) return platform::kInfinite;
  const int64_t ms = seconds * kMillisecondsPerSecond;
  return ms >= platform::kInfinite ? platform::kInfinite - 1 : static_cast<uint32_t>(ms);
}

uint32_t Wait(const std::vector<platform::WaitObject*>& objects, int64_t timeoutSeconds,
              SyncLoopObserver* observer) {
  const uint32_t timeoutMs = TimeoutMs(timeoutSeconds);
  if (observer != nullptr) observer->BeforeWait(timeoutMs);
  return platform::WaitForAny(objects, timeoutMs, true);
}

void DispatchQueuedMessages() {
  platform::ThreadMessage message;
  while (platform::PeekThreadMessage(message, true)) platform::DispatchThreadMessage(message);
}

void LogWaitFailure() {
  HostLog(kLogError, "WAIT_FAIL in MsgWaitForMultipleObject...GetLastError() returns: %d\n",
          static_cast<int>(platform::LastError()));
}

void Prune(NoltUpdater& updater) {
  HostLog(kLogDetail, "Received prune event...\n");
  updater.PruneOnEvent();
}

// The job event is manual-reset: the loop resets it before it looks at the job.
void TakeBitsJobEvent(LoopEvents& events) {
  HostLog(kLogDetail, "Received bits job event...\n");
  events.bitsJob->Reset();
}

void Shutdown(ModletContext& context) {
  HostLog(kLogDetail, "Received shutdown event...\n");
  context.state = kModletStateStopping;
}

uint64_t NowMs() { return platform::CurrentClock().MonotonicMs(); }

// The service's last update attempt is later than this user's.
bool ServiceAttemptedLater() {
  const auto service =
      sync_state::ReadTime(sync_state::kLastAttemptUpdateTime, sync_state::Scope::kServiceAccount);
  if (!service) return false;
  const auto user = sync_state::ReadTime(sync_state::kLastAttemptUpdateTime);
  return service->FileTime() > (user ? user->FileTime() : 0);
}

// The first timeout for a job left by an earlier run: 1 s to complete it, else the poll.
bool PendingJobTimeout(int stage, int64_t& timeout) {
  if (stage == bits_stage::kNoJob) return false;
  timeout = stage == bits_stage::kFinished ? 1 : GetPollInterval();
  return true;
}

}  // namespace

uint32_t DoScheduledSync(ModletContext& context, NoltUpdater& updater, NoltUploader& uploader,
                         SyncNotifyRecord& record, bool randomize) {
  if (updater.HasBits()) {
    EnsureNextSyncTime();
    if (RunSyncCycle(context, updater, uploader, record)) return GetPollInterval();
  } else {
    RunUpdateCycle(context, updater, record);
    RunUploadCycle(uploader);
    SetNextUpdateTime(GetUpdateFrequency(randomize));
  }
  const uint32_t sleep = GetSleepSeconds();
  if (sleep != 0) return sleep;
  HostLog(kLogInfo, "Minimum sleep time enforced: %d\n", static_cast<int>(kMinimumSleepSeconds));
  return kMinimumSleepSeconds;
}

void RunScheduledLoop(ModletContext& context, NoltUpdater& updater, NoltUploader& uploader,
                      SyncLoopObserver* observer) {
  platform::EnsureMessageQueue();
  SyncNotifyRecord& record = context.notifyRecord = MakeSyncNotifyRecord(context);
  LoopEvents events;
  events.prune = CreatePruneEvent(context);
  const StartupAdjustment startup = AdjustSyncTimeOnStartup();
  bool randomizeOnce = startup.randomizeNext;
  int64_t timeout = startup.firstTimeout;
  PendingJobTimeout(updater.GetBitsDownloadState(nullptr, nullptr, nullptr), timeout);
  updater.RequestPruneIfNeeded();
  CreateJobEvents(context, events);
  const std::vector<platform::WaitObject*> objects = {
      context.shutdownEvent.get(), events.prune.get(), events.bitsJob.get(),
      events.bitsUploadJob.get()};

  bool logNextSync = true;
  while (context.state == kModletStateRunning) {
    RefreshServer(context);
    updater.SetServer(context.server);
    updater.ClearMacros();
    updater.LoadContextMacros();
    if (logNextSync) {
      LogNextSyncTime(static_cast<uint32_t>(timeout));
      logNextSync = false;
    }
    if (timeout > kTrimAboveSeconds) TrimWorkingSetUnlessDisabled(context);
    const uint64_t waitStart = NowMs();
    const uint32_t index = Wait(objects, timeout, observer);
    bool syncStep = false;
    if (index == 0) {
      Shutdown(context);
    } else if (index == 1) {
      Prune(updater);
    } else if (index == 2) {
      TakeBitsJobEvent(events);
      syncStep = true;
    } else if (index == 3) {
      HostLog(kLogDetail, "Received bits job Upload event...\n");
      uploader.HandleBitsUploadJob();
      events.bitsUploadJob->Reset();
    } else if (index == platform::kWaitTimeout) {
      HostLog(kLogDetail, "Woke up on timeout...\n");
      syncStep = true;
    } else if (index == objects.size()) {
      DispatchQueuedMessages();
    } else {
      LogWaitFailure();
      context.state = kModletStateStopping;
    }
    if (syncStep) {
      logNextSync = true;
      const bool randomize = randomizeOnce || ShouldRandomize();
      randomizeOnce = false;
      timeout = DoScheduledSync(context, updater, uploader, record, randomize);
    } else {
      const int64_t elapsed = static_cast<int64_t>((NowMs() - waitStart) / 1000);
      timeout = elapsed > timeout ? 0 : timeout - elapsed;
    }
  }
}

void RunNotifiedLoop(ModletContext& context, NoltUpdater& updater, NoltUploader& uploader,
                     SyncLoopObserver* observer) {
  platform::EnsureMessageQueue();
  SyncNotifyRecord& record = context.notifyRecord = MakeSyncNotifyRecord(context);
  LoopEvents events;
  char name[kEventNameBuffer];
  std::snprintf(name, sizeof name, "%s_%s_%s", "Global\\NOLTCMD_SYNC_EVENT",
                context.providerId.c_str(),
                context.runContext != nullptr ? context.runContext->UserName().c_str() : "");
  events.syncNotification = Event::Create(name, false, false);
  HostLog(kLogDetail, "Created sync notification event, event name=%s, handle=%d\n", name,
          events.syncNotification ? events.syncNotification->HandleValue() : 0);
  events.prune = CreatePruneEvent(context);
  updater.RequestPruneIfNeeded();
  CreateJobEvents(context, events);

  bool pending = false;
  int64_t timeout = kNoTimeLimit;
  const int stage = updater.GetBitsDownloadState(nullptr, nullptr, nullptr);
  HostLog(kLogDetail, "Current sync update stage is %d\n", stage);
  pending = PendingJobTimeout(stage, timeout);
  if (ServiceAttemptedLater() && events.syncNotification) events.syncNotification->Set();
  const std::vector<platform::WaitObject*> objects = {
      context.shutdownEvent.get(), events.syncNotification.get(), events.prune.get(),
      events.bitsJob.get(), events.bitsUploadJob.get()};

  while (context.state == kModletStateRunning) {
    RefreshServer(context);
    TrimWorkingSetUnlessDisabled(context);
    HostLog(kLogDetail, "Going to sleep with TO of %d sec.\n", static_cast<int>(timeout));
    const uint32_t index = Wait(objects, timeout, observer);
    if (index == 0) {
      Shutdown(context);
    } else if (index == 1) {
      HostLog(kLogDetail, "Received sync notification event from noltsvc...\n");
      if (!updater.HasBits()) {
        RunUpdateCycle(context, updater, record);
        RunUploadCycle(uploader);
        pending = false;
        timeout = kNoTimeLimit;
        continue;
      }
      pending = RunSyncCycle(context, updater, uploader, record);
    } else if (index == 2) {
      Prune(updater);
    } else if (index == 3) {
      TakeBitsJobEvent(events);
      pending = RunSyncCycle(context, updater, uploader, record);
    } else if (index == 4) {
      HostLog(kLogDetail, "Received bits job Upload event...\n");
      events.bitsUploadJob->Reset();
      uploader.HandleBitsUploadJob();
    } else if (index == platform::kWaitTimeout) {
      HostLog(kLogDetail, "Woke up on timeout...\n");
      pending = RunSyncCycle(context, updater, uploader, record);
    } else if (index == objects.size()) {
      HostLog(kLogDetail, "Dispatching windows message...\n");
      DispatchQueuedMessages();
    } else {
      LogWaitFailure();
      context.state = kModletStateStopping;
    }
    timeout = pending ? static_cast<int64_t>(GetPollInterval()) : kNoTimeLimit;
  }
}
