// The sync schedule: one persisted next-sync time turned into the seconds the loop waits, an
// interval drawn at random in [f/2, 3f/2] when asked, a reset when the last attempt lies in the
// future (a clock set back), and every wait capped at one update interval.
#pragma once
#include <cstdint>

// Past-due threshold of the start-up adjustment (72 hours); fixed, not "MaxUpdateTimeOut".
inline constexpr uint32_t kStartupPastDueThresholdSeconds = 259200;
inline constexpr uint32_t kMinPollSeconds = 30;
inline constexpr uint32_t kMaxPollSeconds = 300;

// "UpdateFreq" in minutes (240 when not positive). A frequency raised since the previous call
// in the process forces a random draw; `randomize` draws one anyway.
uint32_t GetUpdateFrequency(bool randomize);
// next := now + minutes (0: GetUpdateFrequency(false)); writes the hex and readable forms.
bool SetNextUpdateTime(uint32_t minutes);
// Sets a new next-sync time when none is stored, it has passed, or it is within a second.
// True when it set one.
bool EnsureNextSyncTime();
// Seconds until the next sync, capped at one update interval (0: sync now).
uint32_t GetSleepSeconds();
// True (with the seconds in `seconds`) when a next-sync time is stored and has passed.
bool GetPastDueSeconds(uint32_t& seconds);
// Whether the next interval is drawn at random: never with "RandomSync" -1; always without a
// stored next time; else on every third consecutive failure.
bool ShouldRandomize();
// Seconds between two polls of an unfinished background job: half the interval, 30..300.
uint32_t GetPollInterval();

// The scheduled loop's start-up: logs the past-due state, asks for one randomised interval
// when the sync is overdue by 72 hours or more, and gives the first timeout.
struct StartupAdjustment {
  bool randomizeNext = false;
  uint32_t firstTimeout = 0;
};
StartupAdjustment AdjustSyncTimeOnStartup();

// For tests: the process-wide previous frequency back to "none seen" (-1).
void ResetPreviousUpdateFrequency();
