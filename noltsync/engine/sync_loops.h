// The two sync loops. Each sleeps in one wait on its named events and the thread's message
// queue and runs until the context leaves state 4:
// - the scheduled loop keeps its own schedule (the service, the command agent alone, simulate);
// - the notified loop syncs when the service signals that it synced, or when a background job
//   needs attention (the command agent while the service runs).
#pragma once
#include <cstdint>

#include "noltsync/entry/modlet_api.h"

struct ModletContext;
class NoltUpdater;
class NoltUploader;

// Sees every wait of a loop just before it starts, on the loop's thread.
class SyncLoopObserver {
 public:
  virtual ~SyncLoopObserver() = default;
  // The wait's timeout in milliseconds (platform::kInfinite: no time limit).
  virtual void BeforeWait(uint32_t timeoutMs) = 0;
};

// Timeout of a sync step whose schedule says "now" (four hours).
inline constexpr uint32_t kMinimumSleepSeconds = 14400;
// Waits longer than this trim the working set first (scheduled loop).
inline constexpr uint32_t kTrimAboveSeconds = 300;

void RunScheduledLoop(ModletContext& context, NoltUpdater& updater, NoltUploader& uploader,
                      SyncLoopObserver* observer = nullptr);
void RunNotifiedLoop(ModletContext& context, NoltUpdater& updater, NoltUploader& uploader,
                     SyncLoopObserver* observer = nullptr);

// One sync step of the scheduled loop; returns the seconds until the next one.
uint32_t DoScheduledSync(ModletContext& context, NoltUpdater& updater, NoltUploader& uploader,
                         SyncNotifyRecord& record, bool randomize);
