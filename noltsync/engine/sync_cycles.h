// One sync cycle: the update side (the direct path in one call, or a background job driven
// through its stages over several wake-ups of the loop), then, when due, the upload side; and
// the registry bookkeeping of their outcomes.
#pragma once
#include <cstdint>

#include "foundation/strings/hx_str.h"
#include "noltsync/entry/modlet_api.h"

struct ModletContext;
class NoltUpdater;
class NoltUploader;

// The loop's notification record for the context (kind 100, the context's name, the calling
// thread's id, the provider id). The texts point into `context`, which must outlive it.
SyncNotifyRecord MakeSyncNotifyRecord(const ModletContext& context);

// BITS path: the update stages (when downloads are enabled), then the upload side when no
// download job is pending. True while a job is still pending. False at once without BITS.
bool RunSyncCycle(ModletContext& context, NoltUpdater& updater, NoltUploader& uploader,
                  SyncNotifyRecord& record);
// One turn of the background update: 0 when the update ended or there was nothing to do,
// otherwise non-zero (pending; 1, 2 or a stage).
int UpdateStageDriver(ModletContext& context, NoltUpdater& updater, SyncNotifyRecord& record);
// Direct path: DoUpdate (when downloads are enabled), context reload, notification, outcome.
void RunUpdateCycle(ModletContext& context, NoltUpdater& updater, SyncNotifyRecord& record);
// Runs the upload when NeedUpload says so, and records its outcome.
void RunUploadCycle(NoltUploader& uploader);
// The upload switches, then the update/upload ratio count; true when this cycle uploads.
bool NeedUpload();
// False when a "DisableDownload" switch is set (the service account's only in the command
// agent, then the user's).
bool IsDownloadEnabled(const ModletContext& context);
// Records the start of a background update ("LastBitsUpdateStartTime" and its hex form).
void RecordBitsUpdateStart();
// Records the end of an update with its code: counts, error code, attempt and success times.
void UpdateProcessEnd(int code);
// Finishes an overdue job by force and records the update with code 29.
void FinishOverdueBitsJob(NoltUpdater& updater, const HxStr& jobId, const HxStr& state);
// True when the background update started "MaxUpdateTimeOut" or more ago; `elapsed` gets the
// seconds since its start (0 when none is recorded or it lies ahead).
bool IsBitsUpdateOverdue(uint32_t& elapsed);
