// The sync schedule over a driven clock: frequency defaults and draws, the next-sync time, the
// sleep with its cap and the future-time reset, the randomisation decision and the poll.
#include <string>
#include <utility>

#include "engine_test_fixture.h"
#include "foundation/registry/provider_store.h"
#include "noltsync/engine/schedule.h"
#include "noltsync/engine/sync_state.h"

namespace {

class ScheduleTest : public EngineTest {
 protected:
  // Stores a next-sync time `seconds` from now (negative: in the past).
  void StoreNextTime(int64_t seconds) {
    sync_state::WriteHexTime(sync_state::kNextUpdateTime, Now().Add(seconds * HxTime::kSecond));
  }
  int64_t SecondsToNextTime() const {
    return StoredTime("NextUpdateTime").Difference(Now()) / HxTime::kSecond;
  }
};

TEST_F(ScheduleTest, AbsentNonPositiveOrUnreadableFrequencyBecomes240WithWarning) {
  EXPECT_EQ(GetUpdateFrequency(false), 240u);
  EXPECT_TRUE(Logged("PrevUpdateFreq : -1  CurrentUpdateFreq : 240\n", 1));
  for (const char* value : {"", "0", "-5", "often"}) {
    SetSync("UpdateFreq", value);
    ClearLog();
    EXPECT_EQ(GetUpdateFrequency(false), 240u) << value;
    EXPECT_TRUE(
        Logged("UpdateFreq from context is less than or equal to 0. Minimum updatefreq "
               "enforced and set to: 240\n",
               4))
        << value;
  }
}

TEST_F(ScheduleTest, RandomisedIntervalStaysWithinHalfToOneAndAHalf) {
  SetSync("UpdateFreq", "240");
  bool below = false;
  bool above = false;
  for (int draw = 0; draw < 100; ++draw) {
    AdvanceSeconds(1);  // a new tick count seeds each draw
    const uint32_t minutes = GetUpdateFrequency(true);
    ASSERT_TRUE(minutes >= 120u && minutes <= 360u) << minutes;
    below |= minutes < 240;
    above |= minutes > 240;
  }
  EXPECT_TRUE(below && above);
  EXPECT_EQ(CountLogged("Next randomized update frequency [120, 360]: "), 100);
  SetSync("UpdateFreq", "1");  // one minute cannot be halved
  EXPECT_EQ(GetUpdateFrequency(true), 1u);
  EXPECT_TRUE(Logged("Next randomized update frequency [1, 1]: 1\n", 1));
}

TEST_F(ScheduleTest, RaisedFrequencyForcesADrawLoweredOrSameDoesNot) {
  SetSync("UpdateFreq", "60");
  EXPECT_EQ(GetUpdateFrequency(false), 60u);
  SetSync("UpdateFreq", "120");
  ClearLog();
  const uint32_t raised = GetUpdateFrequency(false);
  EXPECT_TRUE(raised >= 60u && raised <= 180u) << raised;
  EXPECT_TRUE(LoggedInOrder({{0, "PrevUpdateFreq : 60  CurrentUpdateFreq : 120\n"},
                             {0, "Next randomized update frequency [60, 180]: "}}));
  SetSync("UpdateFreq", "30");
  ClearLog();
  EXPECT_EQ(GetUpdateFrequency(false), 30u);
  EXPECT_EQ(GetUpdateFrequency(false), 30u);
  EXPECT_EQ(CountLogged("Next randomized"), 0);
}

TEST_F(ScheduleTest, NextSyncTimeIsWrittenInBothFormsAndOnlyWhenDue) {
  SetSync("UpdateFreq", "90");
  EXPECT_TRUE(SetNextUpdateTime(0));
  EXPECT_EQ(SecondsToNextTime(), 90 * 60);
  std::string readable;
  ASSERT_TRUE(UserString("NextUpdateTime", readable));
  EXPECT_EQ(readable, std::string(Now().Add(90 * HxTime::kMinute).Readable().c_str()));
  EXPECT_TRUE(Logged("Next Sync Time is updated to: " + readable + "\n", 2));
  EXPECT_TRUE(SetNextUpdateTime(5));
  EXPECT_EQ(SecondsToNextTime(), 5 * 60);

  // EnsureNextSyncTime sets it only when missing, passed or within a second.
  SetSync("UpdateFreq", "10");
  provider_store::DeleteValue(nullptr, "NextUpdateTimeHex", true);
  EXPECT_TRUE(EnsureNextSyncTime());
  EXPECT_TRUE(Logged("Going to Set new Sync time... \n", 1));
  EXPECT_EQ(SecondsToNextTime(), 600);
  AdvanceSeconds(300);
  EXPECT_FALSE(EnsureNextSyncTime());
  EXPECT_EQ(SecondsToNextTime(), 300);
  AdvanceSeconds(301);
  EXPECT_TRUE(EnsureNextSyncTime());
  EXPECT_EQ(SecondsToNextTime(), 600);
  sync_state::WriteHexTime(sync_state::kNextUpdateTime, Now().Add(HxTime::kSecond / 2));
  EXPECT_TRUE(EnsureNextSyncTime());
}

TEST_F(ScheduleTest, SleepAndPastDueCountFromTheNextTime) {
  uint32_t pastDue = 77;
  EXPECT_EQ(GetSleepSeconds(), 0u);
  EXPECT_TRUE(Logged("Sleep time till Next Sync time is 0 seconds\n", 1));
  EXPECT_FALSE(GetPastDueSeconds(pastDue));
  SetSync("UpdateFreq", "60");
  StoreNextTime(1800);
  EXPECT_EQ(GetSleepSeconds(), 1800u);
  AdvanceSeconds(1799);
  EXPECT_EQ(GetSleepSeconds(), 1u);
  EXPECT_FALSE(GetPastDueSeconds(pastDue));
  EXPECT_EQ(pastDue, 77u);
  AdvanceSeconds(41);
  EXPECT_TRUE(GetPastDueSeconds(pastDue));
  EXPECT_EQ(pastDue, 40u);
  EXPECT_EQ(GetSleepSeconds(), 0u);
}

TEST_F(ScheduleTest, SleepBeyondOneIntervalIsCappedAndTheNextTimeRewritten) {
  SetSync("UpdateFreq", "240");
  StoreNextTime(10 * 86400);
  EXPECT_EQ(GetSleepSeconds(), 14400u);
  EXPECT_EQ(SecondsToNextTime(), 14400);
  EXPECT_TRUE(LoggedInOrder(
      {{2, "NextUpdateTime is "}, {1, "Sleep time till Next Sync time is 14400 seconds\n"}}));
  bool capLogged = false;
  for (const CapturedLogLine& line : Log()) {
    capLogged |= line.text.starts_with("NextUpdateTime is ") &&
                 line.text.ends_with(
                     ". The sleep time 864000 is greater than the update "
                     "frequency 14400. Minimum sleep time enforced: 14400\n");
  }
  EXPECT_TRUE(capLogged);
}

TEST_F(ScheduleTest, LastAttemptInTheFutureClearsTheScheduleAndSyncsNow) {
  StoreNextTime(1800);
  sync_state::WriteReadableTime(sync_state::kNextUpdateTime, Now());
  sync_state::WriteHexTime(sync_state::kLastAttemptUpdateTime, Now().Add(HxTime::kHour));
  sync_state::WriteReadableTime(sync_state::kLastAttemptUpdateTime, Now());
  EXPECT_EQ(GetSleepSeconds(), 0u);
  EXPECT_TRUE(Logged(
      "Last Update Time was set in the future...Clearing last & next sync times...Update now\n",
      4));
  for (const char* name : {"NextUpdateTimeHex", "NextUpdateTime", "LastAttemptUpdateTime",
                           "LastAttemptUpdateTimeHex"}) {
    std::string text = "unread";
    EXPECT_TRUE(UserString(name, text) && text.empty()) << name << ": " << text;
  }
}

TEST_F(ScheduleTest, StartupRandomisesOnlyWhenOverdueByThreeDays) {
  StoreNextTime(-3600);
  StartupAdjustment recent = AdjustSyncTimeOnStartup();
  EXPECT_FALSE(recent.randomizeNext);
  EXPECT_EQ(recent.firstTimeout, 0u);
  EXPECT_TRUE(LoggedInOrder(
      {{2, "Sync Past Due for 3600 seconds (Threshold: 259200)\n"}, {2, "Sync now \n"}}));
  StoreNextTime(-259200);
  EXPECT_TRUE(AdjustSyncTimeOnStartup().randomizeNext);
  EXPECT_TRUE(
      Logged("Sync Past due longer than threshold...sync now and randomize next interval...\n", 2));
  SetSync("UpdateFreq", "60");
  StoreNextTime(600);
  StartupAdjustment ahead = AdjustSyncTimeOnStartup();
  EXPECT_FALSE(ahead.randomizeNext);
  EXPECT_EQ(ahead.firstTimeout, 600u);
}

TEST_F(ScheduleTest, EveryThirdFailureOrAMissingNextTimeRandomisesUnlessRandomSyncIsOff) {
  const struct {
    uint32_t failures;
    bool hasNextTime;
    const char* randomSync;
    bool randomizes;
  } rows[] = {// RandomSync is absent until a row sets it
              {0, true, nullptr, false}, {1, true, nullptr, false}, {2, true, nullptr, false},
              {4, true, nullptr, false}, {5, true, nullptr, false}, {3, true, nullptr, true},
              {6, true, nullptr, true},  {0, false, nullptr, true}, {0, false, "-1", false},
              {3, true, "-1", false},    {3, false, "0", true}};
  for (const auto& row : rows) {
    provider_store::DeleteValue(nullptr, "NextUpdateTimeHex", true);
    if (row.hasNextTime) StoreNextTime(600);
    PutUserDword("UpdateFailureCount", row.failures);
    if (row.randomSync != nullptr) SetSync("RandomSync", row.randomSync);
    EXPECT_EQ(ShouldRandomize(), row.randomizes) << row.failures << " " << row.hasNextTime;
  }
}

TEST_F(ScheduleTest, PollIntervalIsHalfTheIntervalWithin30To300) {
  for (const auto& [minutes, poll] :
       {std::pair{"1", 30u}, {"3", 90u}, {"4", 120u}, {"240", 300u}}) {
    ResetPreviousUpdateFrequency();  // a raised frequency would draw at random
    SetSync("UpdateFreq", minutes);
    EXPECT_EQ(GetPollInterval(), poll) << minutes;
  }
}

}  // namespace
