// The sync schedule over a driven clock: frequency defaults and draws, the next-sync time, the
// sleep with its cap and the future-time reset, the randomisation decision and the poll.
#include <string>
#include <utility>

#include "engine_test_fixture.h"
#include "foundation/registry/provider_store.h"
#include "noltsync/engine/schedule.h"
#include "noltsync/engine/sync_state.h"

namespace {

constexpr const char* kMinimumFreqMessage =
    "UpdateFreq from context is less than or equal to 0. Minimum updatefreq enforced and set to: "
    "240\n";

class ScheduleTest : public EngineTest {
 protected:
  // Stores a next-sync time `seconds` from now (negative: in the past).
  void StoreNextTime(int64_t seconds) {
    sync_state::WriteHexTime(sync_state::kNextUpdateTime, Now().Add(seconds * HxTime::kSecond));
  }
  int64_t SecondsFromNow(const HxTime& time) const {
    return time.Difference(Now()) / HxTime::kSecond;
  }
};

TEST_F(ScheduleTest, AbsentNonPositiveOrUnreadableFrequencyBecomes240WithWarning) {
  EXPECT_EQ(GetUpdateFrequency(false), 240u);
  EXPECT_TRUE(Logged("PrevUpdateFreq : -1  CurrentUpdateFreq : 240\n", 1));
  for (const char* value : {"", "0", "-5", "often"}) {
    SCOPED_TRACE(value);
    SetSync("UpdateFreq", value);
    ClearLog();
    EXPECT_EQ(GetUpdateFrequency(false), 240u);
    EXPECT_TRUE(Logged(kMinimumFreqMessage, 4));
  }
}

TEST_F(ScheduleTest, RandomisedIntervalStaysWithinHalfToOneAndAHalf) {
  SetSync("UpdateFreq", "240");
  bool below = false;
  bool above = false;
  for (int draw = 0; draw < 200; ++draw) {
    AdvanceSeconds(1);  // a new tick count seeds each draw
    const uint32_t minutes = GetUpdateFrequency(true);
    ASSERT_GE(minutes, 120u);
    ASSERT_LE(minutes, 360u);
    below |= minutes < 240;
    above |= minutes > 240;
  }
  EXPECT_TRUE(below && above);
  EXPECT_EQ(CountLogged("Next randomized update frequency [120, 360]: "), 200);

  SetSync("UpdateFreq", "1");  // one minute cannot be halved
  EXPECT_EQ(GetUpdateFrequency(true), 1u);
  EXPECT_TRUE(Logged("Next randomized update frequency [1, 1]: 1\n", 1));
}

TEST_F(ScheduleTest, RaisedFrequencyForcesADrawLoweredDoesNot) {
  SetSync("UpdateFreq", "60");
  EXPECT_EQ(GetUpdateFrequency(false), 60u);
  SetSync("UpdateFreq", "120");
  ClearLog();
  const uint32_t raised = GetUpdateFrequency(false);
  EXPECT_GE(raised, 60u);
  EXPECT_LE(raised, 180u);
  EXPECT_TRUE(Logged("PrevUpdateFreq : 60  CurrentUpdateFreq : 120\n"));
  EXPECT_EQ(CountLogged("Next randomized update frequency [60, 180]: "), 1);

  SetSync("UpdateFreq", "30");
  ClearLog();
  EXPECT_EQ(GetUpdateFrequency(false), 30u);
  EXPECT_EQ(CountLogged("Next randomized"), 0);
  // The same frequency again does not draw either.
  EXPECT_EQ(GetUpdateFrequency(false), 30u);
  EXPECT_EQ(CountLogged("Next randomized"), 0);
}

TEST_F(ScheduleTest, SetNextUpdateTimeWritesBothFormsFromNow) {
  SetSync("UpdateFreq", "90");
  EXPECT_TRUE(SetNextUpdateTime(0));
  EXPECT_EQ(SecondsFromNow(StoredTime("NextUpdateTime")), 90 * 60);
  std::string readable;
  ASSERT_TRUE(UserString("NextUpdateTime", readable));
  EXPECT_EQ(readable, std::string(Now().Add(90 * HxTime::kMinute).Readable().c_str()));
  EXPECT_TRUE(Logged("Next Sync Time is updated to: " + readable + "\n", 2));

  EXPECT_TRUE(SetNextUpdateTime(5));
  EXPECT_EQ(SecondsFromNow(StoredTime("NextUpdateTime")), 5 * 60);
}

TEST_F(ScheduleTest, EnsureNextSyncTimeSetsOnlyWhenMissingPassedOrWithinASecond) {
  SetSync("UpdateFreq", "10");
  EXPECT_TRUE(EnsureNextSyncTime());
  EXPECT_TRUE(Logged("Going to Set new Sync time... \n", 1));
  EXPECT_EQ(SecondsFromNow(StoredTime("NextUpdateTime")), 600);

  AdvanceSeconds(300);
  EXPECT_FALSE(EnsureNextSyncTime());
  EXPECT_EQ(SecondsFromNow(StoredTime("NextUpdateTime")), 300);

  AdvanceSeconds(301);  // passed
  EXPECT_TRUE(EnsureNextSyncTime());
  EXPECT_EQ(SecondsFromNow(StoredTime("NextUpdateTime")), 600);

  sync_state::WriteHexTime(sync_state::kNextUpdateTime, Now().Add(HxTime::kSecond / 2));
  EXPECT_TRUE(EnsureNextSyncTime());
}

TEST_F(ScheduleTest, SleepCountsDownToTheNextTimeAndIsZeroWithoutOne) {
  EXPECT_EQ(GetSleepSeconds(), 0u);
  EXPECT_TRUE(Logged("Sleep time till Next Sync time is 0 seconds\n", 1));
  SetSync("UpdateFreq", "60");
  StoreNextTime(1800);
  EXPECT_EQ(GetSleepSeconds(), 1800u);
  AdvanceSeconds(1799);
  EXPECT_EQ(GetSleepSeconds(), 1u);
  AdvanceSeconds(5);
  EXPECT_EQ(GetSleepSeconds(), 0u);
}

TEST_F(ScheduleTest, SleepBeyondOneIntervalIsCappedAndTheNextTimeRewritten) {
  SetSync("UpdateFreq", "240");
  StoreNextTime(10 * 86400);
  EXPECT_EQ(GetSleepSeconds(), 14400u);
  EXPECT_EQ(SecondsFromNow(StoredTime("NextUpdateTime")), 14400);
  const int capLine = IndexOf("NextUpdateTime is ");
  ASSERT_GE(capLine, 0);
  EXPECT_EQ(Log()[capLine].level, 2u);
  EXPECT_NE(Log()[capLine].text.find(". The sleep time 864000 is greater than the update "
                                     "frequency 14400. Minimum sleep time enforced: 14400\n"),
            std::string::npos);
  EXPECT_TRUE(Logged("Sleep time till Next Sync time is 14400 seconds\n", 1));
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
    EXPECT_TRUE(UserString(name, text)) << name;
    EXPECT_EQ(text, "") << name;
  }
}

TEST_F(ScheduleTest, PastDueSecondsOnlyForAPassedNextTime) {
  uint32_t seconds = 77;
  EXPECT_FALSE(GetPastDueSeconds(seconds));
  StoreNextTime(60);
  EXPECT_FALSE(GetPastDueSeconds(seconds));
  EXPECT_EQ(seconds, 77u);
  AdvanceSeconds(100);
  EXPECT_TRUE(GetPastDueSeconds(seconds));
  EXPECT_EQ(seconds, 40u);
}

TEST_F(ScheduleTest, StartupRandomisesOnlyWhenOverdueByThreeDays) {
  StoreNextTime(-3600);
  StartupAdjustment recent = AdjustSyncTimeOnStartup();
  EXPECT_FALSE(recent.randomizeNext);
  EXPECT_EQ(recent.firstTimeout, 0u);
  EXPECT_TRUE(Logged("Sync Past Due for 3600 seconds (Threshold: 259200)\n", 2));
  EXPECT_TRUE(Logged("Sync now \n", 2));

  StoreNextTime(-259200);
  EXPECT_TRUE(AdjustSyncTimeOnStartup().randomizeNext);
  EXPECT_TRUE(Logged(
      "Sync Past due longer than threshold...sync now and randomize next interval...\n", 2));

  SetSync("UpdateFreq", "60");
  StoreNextTime(600);
  StartupAdjustment ahead = AdjustSyncTimeOnStartup();
  EXPECT_FALSE(ahead.randomizeNext);
  EXPECT_EQ(ahead.firstTimeout, 600u);
}

TEST_F(ScheduleTest, EveryThirdFailureOrAMissingNextTimeRandomisesUnlessRandomSyncIsOff) {
  StoreNextTime(600);
  for (uint32_t failures : {0u, 1u, 2u, 4u, 5u}) {
    PutUserDword("UpdateFailureCount", failures);
    EXPECT_FALSE(ShouldRandomize()) << failures;
  }
  for (uint32_t failures : {3u, 6u}) {
    PutUserDword("UpdateFailureCount", failures);
    EXPECT_TRUE(ShouldRandomize()) << failures;
  }
  provider_store::DeleteValue(nullptr, "NextUpdateTimeHex", true);  // no next time: randomise
  PutUserDword("UpdateFailureCount", 0);
  EXPECT_TRUE(ShouldRandomize());
  SetSync("RandomSync", "-1");
  EXPECT_FALSE(ShouldRandomize());
  PutUserDword("UpdateFailureCount", 3);
  EXPECT_FALSE(ShouldRandomize());
  SetSync("RandomSync", "0");
  EXPECT_TRUE(ShouldRandomize());
}

TEST_F(ScheduleTest, PollIntervalIsHalfTheIntervalWithin30To300) {
  for (const auto& [minutes, poll] : {std::pair{"1", 30u}, {"3", 90u}, {"4", 120u}, {"240", 300u}}) {
    ResetPreviousUpdateFrequency();  // a raised frequency would draw at random
    SetSync("UpdateFreq", minutes);
    EXPECT_EQ(GetPollInterval(), poll) << minutes;
  }
}

}  // namespace
