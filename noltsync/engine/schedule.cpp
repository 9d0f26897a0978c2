#include "noltsync/engine/schedule.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <optional>
#include <random>

#include "foundation/log/host_logger.h"
#include "foundation/time/hx_time.h"
#include "noltsync/engine/sync_settings.h"
#include "noltsync/engine/sync_state.h"
#include "platform/clock.h"

namespace {

constexpr int32_t kNoPreviousFrequency = -1;
constexpr uint32_t kNoSleepLimit = 0xFFFFFFFF;
constexpr uint32_t kSecondsPerMinute = 60;

// The frequency seen by the last GetUpdateFrequency of the process, shared by all contexts.
std::atomic<int32_t> g_previousFrequency{kNoPreviousFrequency};

// A uniform draw over [lo, hi], re-seeded from the tick count on every call.
uint32_t DrawBetween(uint32_t lo, uint32_t hi) {
  std::mt19937 generator(platform::TickCount());
  return std::uniform_int_distribution<uint32_t>(lo, hi)(generator);
}

uint32_t AtLeastOne(double value) { return std::max<uint32_t>(1, static_cast<uint32_t>(value)); }

}  // namespace

uint32_t GetUpdateFrequency(bool randomize) {
  const int32_t frequency = sync_settings::UpdateFreqMinutes();
  const int32_t previous = g_previousFrequency.exchange(frequency);
  HostLog(kLogDetail, "PrevUpdateFreq : %d  CurrentUpdateFreq : %d\n", previous, frequency);
  if (!randomize && previous != kNoPreviousFrequency && previous < frequency) randomize = true;
  if (!randomize) return static_cast<uint32_t>(frequency);

  const uint32_t lo = AtLeastOne(frequency * 0.5);
  const uint32_t hi = AtLeastOne(frequency * 1.5);
  const uint32_t drawn = DrawBetween(lo, hi);
  HostLog(kLogDetail, "Next randomized update frequency [%d, %d]: %d\n", static_cast<int>(lo),
          static_cast<int>(hi), static_cast<int>(drawn));
  return drawn;
}

bool SetNextUpdateTime(uint32_t minutes) {
  if (minutes == 0) minutes = GetUpdateFrequency(false);
  const HxTime next = HxTime::Now().Add(HxTime::Span(0, 0, minutes, 0));
  const HxStr readable = next.Readable();
  sync_state::WriteHexTime(sync_state::kNextUpdateTime, next);
  sync_state::WriteReadableTime(sync_state::kNextUpdateTime, next);
  HostLog(kLogInfo, "Next Sync Time is updated to: %s\n", readable.c_str());
  return true;
}

bool EnsureNextSyncTime() {
  const HxTime now = HxTime::Now();
  const std::optional<HxTime> next = sync_state::ReadTime(sync_state::kNextUpdateTime);
  HostLog(kLogDetail, "CurrentTime is: %s  Next Sync Time is: %s\n", now.Readable().c_str(),
          sync_state::ReadableOrEmpty(next).c_str());
  const bool needed = !next || now.FileTime() > next->FileTime() ||
                      std::abs(now.Difference(*next)) < HxTime::kSecond;
  if (!needed) return false;
  HostLog(kLogDetail, "Going to Set new Sync time... \n");
  SetNextUpdateTime(0);
  return true;
}

uint32_t GetSleepSeconds() {
  uint32_t sleep = 0;
  const HxTime now = HxTime::Now();
  const std::optional<HxTime> lastAttempt = sync_state::ReadTime(sync_state::kLastAttemptUpdateTime);
  if (lastAttempt && now.FileTime() < lastAttempt->FileTime()) {
    HostLog(kLogWarning,
            "Last Update Time was set in the future...Clearing last & next sync times...Update "
            "now\n");
    sync_state::ClearValue(sync_state::HexName(sync_state::kNextUpdateTime).c_str());
    sync_state::ClearValue(sync_state::kNextUpdateTime);
    sync_state::ClearValue(sync_state::kLastAttemptUpdateTime);
    sync_state::ClearValue(sync_state::HexName(sync_state::kLastAttemptUpdateTime).c_str());
  }

  const std::optional<HxTime> next = sync_state::ReadTime(sync_state::kNextUpdateTime);
  if (next) {
    if (now.FileTime() < next->FileTime()) sleep = sync_state::WholeSeconds(next->Difference(now));
    const uint32_t cap = GetUpdateFrequency(false) * kSecondsPerMinute;
    if (sleep != kNoSleepLimit && sleep > cap) {
      HostLog(kLogInfo,
              "NextUpdateTime is %s. The sleep time %d is greater than the update frequency %d. "
              "Minimum sleep time enforced: %d\n",
              next->Readable().c_str(), static_cast<int>(sleep), static_cast<int>(cap),
              static_cast<int>(cap));
      sleep = cap;
      SetNextUpdateTime(cap / kSecondsPerMinute);
    }
  }
  HostLog(kLogDetail, "Sleep time till Next Sync time is %d seconds\n", static_cast<int>(sleep));
  return sleep;
}

bool GetPastDueSeconds(uint32_t& seconds) {
  const HxTime now = HxTime::Now();
  const std::optional<HxTime> next = sync_state::ReadTime(sync_state::kNextUpdateTime);
  HostLog(kLogDetail, "CurrentTime: %s  Next Sync Time: %s\n", now.Readable().c_str(),
          sync_state::ReadableOrEmpty(next).c_str());
  if (!next || now.FileTime() <= next->FileTime()) return false;
  seconds = sync_state::WholeSeconds(now.Difference(*next));
  return true;
}

bool ShouldRandomize() {
  if (!sync_settings::RandomSyncEnabled()) return false;
  if (!sync_state::ReadTime(sync_state::kNextUpdateTime)) return true;
  const uint32_t failures = sync_state::ReadCount(sync_state::kUpdateFailureCount);
  return failures > 0 && failures % 3 == 0;
}

uint32_t GetPollInterval() {
  const uint32_t half = GetUpdateFrequency(false) * kSecondsPerMinute / 2;
  return std::min(std::max(half, kMinPollSeconds), kMaxPollSeconds);
}

StartupAdjustment AdjustSyncTimeOnStartup() {
  StartupAdjustment adjustment;
  HostLog(kLogInfo, "Calculating sync time adjustment on startup......\n");
  uint32_t pastDue = 0;
  if (GetPastDueSeconds(pastDue)) {
    HostLog(kLogInfo, "Sync Past Due for %d seconds (Threshold: %d)\n", static_cast<int>(pastDue),
            static_cast<int>(kStartupPastDueThresholdSeconds));
    if (pastDue < kStartupPastDueThresholdSeconds) {
      HostLog(kLogInfo, "Sync now \n");
    } else {
      HostLog(kLogInfo,
              "Sync Past due longer than threshold...sync now and randomize next interval...\n");
      adjustment.randomizeNext = true;
    }
  }
  adjustment.firstTimeout = GetSleepSeconds();
  return adjustment;
}

void ResetPreviousUpdateFrequency() { g_previousFrequency.store(kNoPreviousFrequency); }
