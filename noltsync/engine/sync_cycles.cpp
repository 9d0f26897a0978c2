#include "noltsync/engine/sync_cycles.h"

#include "foundation/context/context_store.h"
#include "foundation/log/host_logger.h"
#include "foundation/time/hx_time.h"
#include "noltsync/engine/sync_settings.h"
#include "noltsync/engine/sync_state.h"
#include "noltsync/entry/modlet_context.h"
#include "noltsync/runmode/host_notification.h"
#include "noltsync/runmode/run_context.h"
#include "noltsync/updater/nolt_updater.h"
#include "noltsync/uploader/nolt_uploader.h"
#include "platform/messages.h"

namespace {

constexpr int kStageNoJob = bits_stage::kNoJob;
constexpr int kStageInProgress = bits_stage::kInProgress;
constexpr int kStageFinished = bits_stage::kFinished;
// What the driver returns after queuing a new job.
constexpr int kPendingNewJob = 1;
constexpr int kStatusManifestJobDone = updater_status::kManifestJobDone;
constexpr int kStatusContentPending = updater_status::kContentJobPending;
constexpr int kStatusFinishedOverdue = updater_status::kFinishedOverdue;
constexpr const char* kUnknown = "UNKNOWN";

intptr_t RecordArgument(SyncNotifyRecord& record) { return reinterpret_cast<intptr_t>(&record); }

// After content changed on disk, the process context is loaded again for the updater's provider.
void ReloadContextIfNeeded(const NoltUpdater& updater) {
  if (!updater.IsContextReloadNeeded()) return;
  HostLog(kLogDetail, "Reloading context...\n");
  LoadContext(updater.ProviderId(), "", "", true);
}

// A partial completion leaves more than one request of the job unfinished.
bool LogIfPartial(int total, int done) {
  if (total - done <= 1) return false;
  HostLog(kLogInfo, "Partial completion of BITS job...\n");
  return true;
}

// Counts a failed end (count + 1 and the code) or resets both on success; the new count.
uint32_t RecordOutcome(const char* failureCountName, const char* errorCodeName, int code) {
  const uint32_t count =
      code == 0 ? 0 : sync_state::ReadCount(failureCountName) + 1;
  sync_state::WriteCount(failureCountName, count);
  sync_state::WriteCount(errorCodeName, static_cast<uint32_t>(code));
  return count;
}

int StartNewUpdate(ModletContext& context, NoltUpdater& updater, HxStr& jobId, HxStr& state) {
  HostLog(kLogInfo, "Update stage 1 starts...\n");
  RecordBitsUpdateStart();
  int count = 0;
  const int status = updater.Update(&count);
  if (status != 0 && status != kStatusContentPending) {
    HostLog(kLogError, "Update stage 1 failure: status=%d\n", status);
    updater.ReportBitsJobFailure();
  }
  HostLog(kLogDetail, "Download count %d\n", count);
  const int stage = updater.GetBitsDownloadState(&jobId, &state, nullptr);
  HostLog(kLogDetail, "New sync state: stage=%d state=%s\n", stage, state.c_str());
  if (count != 0) return kPendingNewJob;
  NotifyNoltcmdSync(context, false, 0);
  UpdateProcessEnd(status);
  return 0;
}

int CompleteFinishedJob(ModletContext& context, NoltUpdater& updater, SyncNotifyRecord& record,
                        HxStr& jobId, HxStr& state) {
  HostLog(kLogInfo, "Update stage 3 progress: BITS ID=%s stats=%s\n", jobId.c_str(),
          state.c_str());
  int total = 0;
  int done = 0;
  int status = updater.CompleteBitsJob(&total, &done, false);
  if (LogIfPartial(total, done)) {
    UpdateProcessEnd(status);
    return kStageInProgress;
  }
  if (status == kStatusManifestJobDone) {
    const int stage = updater.GetBitsDownloadState(&jobId, &state, nullptr);
    if (stage != kStageNoJob) {
      HostLog(kLogInfo,
              "Done with Manifest download. Going to wait for profile/content download to "
              "finish\n");
      return stage;
    }
    HostLog(kLogInfo, "Done with Manifest download. No contents to download\n");
    status = 0;
  }
  if (status == kStatusContentPending) {
    HostLog(kLogDetail, "Content download in progress. Lets poll again\n");
    return updater.GetBitsDownloadState(&jobId, &state, nullptr);
  }
  ReloadContextIfNeeded(updater);
  HostLog(kLogDetail, "Total completion of BITS job...\n");
  NotifyNoltcmdSync(context, updater.IsContextReloadNeeded(), RecordArgument(record));
  UpdateProcessEnd(status);
  return 0;
}

}  // namespace

SyncNotifyRecord MakeSyncNotifyRecord(const ModletContext& context) {
  SyncNotifyRecord record{};
  record.kind = kSyncNotifyRecordKind;
  record.modletName = context.name.c_str();
  record.loopThreadId = platform::CurrentThreadId();
  record.providerId = context.providerId.c_str();
  return record;
}

bool RunSyncCycle(ModletContext& context, NoltUpdater& updater, NoltUploader& uploader,
                  SyncNotifyRecord& record) {
  if (!updater.HasBits()) return false;
  int pending = 0;
  if (IsDownloadEnabled(context)) {
    pending = UpdateStageDriver(context, updater, record);
  } else {
    NotifyNoltcmdSync(context, false, 0);
  }
  if (pending != 0) return true;  // no upload while a download job is pending
  RunUploadCycle(uploader);
  return false;
}

int UpdateStageDriver(ModletContext& context, NoltUpdater& updater, SyncNotifyRecord& record) {
  HxStr jobId = kUnknown;
  HxStr state = kUnknown;
  const int stage = updater.GetBitsDownloadState(&jobId, &state, nullptr);
  if (stage == kStageInProgress) {
    uint32_t elapsed = 0;
    if (!IsBitsUpdateOverdue(elapsed)) {
      HostLog(kLogInfo, "Update stage 2 progress: BITS ID=%s stats=%s\n", jobId.c_str(),
              state.c_str());
      return kStageInProgress;
    }
    FinishOverdueBitsJob(updater, jobId, state);
    jobId = kUnknown;
    state = kUnknown;
    return StartNewUpdate(context, updater, jobId, state);
  }
  if (stage == kStageNoJob) return StartNewUpdate(context, updater, jobId, state);
  if (stage == kStageFinished) return CompleteFinishedJob(context, updater, record, jobId, state);
  return 0;
}

void RunUpdateCycle(ModletContext& context, NoltUpdater& updater, SyncNotifyRecord& record) {
  HostLog(kLogInfo, "Update process starts...currentTime: %s\n",
          HxTime::Now().Readable().c_str());
  int status = 0;
  if (IsDownloadEnabled(context)) status = updater.DoUpdate();
  ReloadContextIfNeeded(updater);
  NotifyNoltcmdSync(context, updater.IsContextReloadNeeded(), RecordArgument(record));
  UpdateProcessEnd(status);
}

void UpdateProcessEnd(int code) {
  const uint32_t count =
      RecordOutcome(sync_state::kUpdateFailureCount, sync_state::kLastUpdateErrCode, code);
  if (code != 0) {
    HostLog(kLogInfo, "Update Failed...Error code: %d, Failure count: %d\n", code,
            static_cast<int>(count));
  } else {
    HostLog(kLogInfo, "Update Successful...\n");
  }
  const HxTime now = HxTime::Now();
  HostLog(kLogInfo, "Update process ends...currentTime: %s\n", now.Readable().c_str());
  sync_state::WriteReadableTime(sync_state::kLastAttemptUpdateTime, now);
  sync_state::WriteHexTime(sync_state::kLastAttemptUpdateTime, now);
  if (code == 0) sync_state::WriteReadableTime(sync_state::kLastSuccessUpdateTime, now);
}

void RunUploadCycle(NoltUploader& uploader) {
  if (!NeedUpload()) return;
  HostLog(kLogInfo, "Upload process starts...currentTime: %s\n",
          HxTime::Now().Readable().c_str());
  const int code = uploader.RunUpload();
  const uint32_t count =
      RecordOutcome(sync_state::kUploadFailureCount, sync_state::kLastUploadErrCode, code);
  if (code != 0) {
    HostLog(kLogInfo, "Upload Failed...Error code: %d, Failure count: %d\n", code,
            static_cast<int>(count));
  }
  const HxTime now = HxTime::Now();
  HostLog(kLogInfo, "Upload process ends...currentTime: %s\n", now.Readable().c_str());
  sync_state::WriteReadableTime(sync_state::kLastAttemptUploadTime, now);
  if (code == 0) sync_state::WriteReadableTime(sync_state::kLastSuccessUploadTime, now);
}

bool NeedUpload() {
  if (sync_settings::MachineDisableUpload()) {
    HostLog(kLogDetail, "DisableUpload Flag Set in HKLM provider context...\n");
    return false;
  }
  if (sync_settings::UserDisableUpload()) {
    HostLog(kLogDetail, "DisableUpload Flag Set in HKCU user context...\n");
    return false;
  }
  const uint32_t ratio = sync_settings::UploadPerUpdateRatio();
  const uint32_t count = sync_state::ReadCount(sync_state::kUpdateRatioCount) + 1;
  const bool upload = count >= ratio;
  sync_state::WriteCount(sync_state::kUpdateRatioCount, upload ? 0 : count);
  HostLog(kLogInfo, "NeedUpload: %s (%d/%d)\n", upload ? "YES" : "NO", static_cast<int>(count),
          static_cast<int>(ratio));
  return upload;
}

bool IsDownloadEnabled(const ModletContext& context) {
  const bool inCommandAgent = context.runContext && context.runContext->InCommandAgent();
  if (inCommandAgent && sync_settings::MachineDisableDownload()) {
    HostLog(kLogDetail, "DisableDownload Flag Set in HKLM provider context...\n");
    return false;
  }
  if (sync_settings::UserDisableDownload()) {
    HostLog(kLogDetail, "DisableDownload Flag Set in User context...\n");
    return false;
  }
  return true;
}

void RecordBitsUpdateStart() {
  const HxTime now = HxTime::Now();
  HostLog(kLogInfo, "BITS Update Start Time: %s\n", now.Readable().c_str());
  sync_state::WriteReadableTime(sync_state::kLastBitsUpdateStartTime, now);
  sync_state::WriteHexTime(sync_state::kLastBitsUpdateStartTime, now);
}

void FinishOverdueBitsJob(NoltUpdater& updater, const HxStr& jobId, const HxStr& state) {
  HostLog(kLogDetail,
          "Exceeded past due Sync time. Finishing the current BITS job %s with state %s\n",
          jobId.c_str(), state.c_str());
  int total = 0;
  int done = 0;
  updater.CompleteBitsJob(&total, &done, true);
  LogIfPartial(total, done);
  ReloadContextIfNeeded(updater);
  UpdateProcessEnd(kStatusFinishedOverdue);
}

bool IsBitsUpdateOverdue(uint32_t& elapsed) {
  elapsed = 0;
  const uint32_t threshold = sync_settings::MaxUpdateTimeOutSeconds();
  const HxTime now = HxTime::Now();
  const std::optional<HxTime> started =
      sync_state::ReadTime(sync_state::kLastBitsUpdateStartTime);
  HostLog(kLogDetail, "CurrentTime: %s  Last Attempted BITS Sync Time: %s\n",
          now.Readable().c_str(), sync_state::ReadableOrEmpty(started).c_str());
  if (started && now.FileTime() > started->FileTime()) {
    elapsed = sync_state::WholeSeconds(now.Difference(*started));
  }
  if (elapsed >= threshold) {
    HostLog(kLogDetail, "Past due time %d is greater than the threshold %d\n",
            static_cast<int>(elapsed), static_cast<int>(threshold));
    return true;
  }
  HostLog(kLogDetail, "Past due time %d is lesser than the threshold %d\n",
          static_cast<int>(elapsed), static_cast<int>(threshold));
  return false;
}
