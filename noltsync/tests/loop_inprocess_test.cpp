// The two sync loops in process: their waits, what wakes them, and the timeouts they compute,
// with the clock driven by the test.
#include <gtest/gtest.h>

#include <future>
#include <string>
#include <thread>

#include "foundation/context/context_store.h"
#include "foundation/registry/provider_store.h"
#include "loop_test_fixture.h"
#include "noltsync/engine/sync_state.h"
#include "noltsync/entry/modlet_api.h"
#include "platform/messages.h"
#include "platform/sync.h"

namespace {

constexpr uint32_t kHourMs = 3600 * 1000;
const std::string kNames = std::string("prov_") + LoopTest::UserName();  // of the loop's events

class ScheduledLoopTest : public LoopTest {
 protected:
  // The next sync one hour ahead, so that the first wait lasts 3600 s.
  void ScheduleNextSyncInOneHour() {
    sync_state::WriteHexTime(sync_state::kNextUpdateTime, Now().Add(HxTime::kHour));
  }
};

TEST_F(ScheduledLoopTest, AWakeWithoutSyncKeepsWhatIsLeftOfTheWait) {
  ScheduleNextSyncInOneHour();
  RunLoop(Loop::kScheduled, [this] {
    EXPECT_EQ(AwaitWait(1), kHourMs);
    AdvanceSeconds(100);
    SignalEvent("MODLET_PRUNE");
    EXPECT_EQ(AwaitWait(2), 3500u * 1000);
    AdvanceSeconds(50);
    platform::PostThreadMessage(LoopThreadId(), platform::kMessageUser, 0, 0);
    EXPECT_EQ(AwaitWait(3), 3450u * 1000);
  });
  EXPECT_TRUE(
      LoggedInOrder({{1, "Created sync prune event - MODLET_PRUNE_" + kNames + "\n"},
                     {1, "Created bits job event - BITS_JOB_EVENT_" + kNames + "\n"},
                     {1, "Created bits job Upload event - BITS_JOB_UPLOAD_EVENT_" + kNames + "\n"},
                     {2, "Next Sync time in 0 days 1 hours 0 minutes 0 seconds\n"},
                     {1, "Received prune event...\n"},
                     {0, "Acquiring NOLTCMD_READWRITE_LOCK"},
                     {1, "Received shutdown event...\n"}}));
  // Logged before the first wait only: no sync step ran.
  EXPECT_EQ(CountLogged("Next Sync time in "), 1);
  EXPECT_EQ(CountLogged("Update process starts"), 0);
}

TEST_F(ScheduledLoopTest, ABitsJobEventRunsASyncStepAndIsReset) {
  ScheduleNextSyncInOneHour();
  RunLoop(Loop::kScheduled, [this] {
    ASSERT_TRUE(AwaitWait(1));
    SignalEvent("BITS_JOB_EVENT");
    EXPECT_EQ(AwaitWait(2), 4 * kHourMs);
    // The manual-reset event was reset: the loop stays in its wait.
    auto event = platform::Event::Open("BITS_JOB_EVENT_" + kNames);
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(platform::WaitForOne(*event, 0), platform::kWaitTimeout);
  });
  EXPECT_EQ(WaitCount(), 2u);
  EXPECT_EQ(CountLogged("Update process starts"), 1);
  // The sync step asks for the next sync time to be logged again.
  EXPECT_TRUE(LoggedInOrder({{2, "Next Sync time in 0 days 1 hours 0 minutes 0 seconds\n"},
                             {1, "Received bits job event...\n"},
                             {2, "Next Sync time in 0 days 4 hours 0 minutes 0 seconds\n"}}));
}

TEST_F(ScheduledLoopTest, ASyncStepEndingAtSleepZeroWaitsFourHours) {
  // No next time is stored: the first wait ends at once. The cycle then outlasts the interval
  // it has just set, so the schedule says "now" again.
  OnLogLine("Next Sync Time is updated to", [this] { AdvanceSeconds(5 * 3600); });
  RunLoop(Loop::kScheduled, [this] {
    EXPECT_EQ(AwaitWait(1), 0u);
    EXPECT_EQ(AwaitWait(2), 4 * kHourMs);
  });
  EXPECT_TRUE(LoggedInOrder({{1, "Woke up on timeout...\n"},
                             {0, "Update process starts"},
                             {0, "Next Sync Time is updated to"},
                             {2, "Minimum sleep time enforced: 14400\n"}}));
}

TEST_F(ScheduledLoopTest, AStartUpPruneRequestWakesTheLoopAtOnceAndTheUsersServerIsTaken) {
  provider_store::DeleteValue(nullptr, "PruneOfflineMask", true);  // no mask yet
  PutUserString("FANOUT_URL", "  http://fanout/root  ");           // read at every pass
  ScheduleNextSyncInOneHour();
  RunLoop(Loop::kScheduled, [this] {
    ASSERT_TRUE(AwaitWait(1));
    EXPECT_EQ(AwaitWait(2), kHourMs);
  });
  EXPECT_TRUE(Logged("Received prune event...\n", 1));
  std::string mask;
  EXPECT_TRUE(UserString("PruneOfflineMask", mask));
  EXPECT_EQ(mask, "op");
  EXPECT_EQ(std::string(GetContextValue("DnaServer").c_str()), "http://fanout/root");
}

// The host may drain a new-data message only after the loop returned: the record it carries
// must still be readable then (under the sanitizers a record on the loop's stack is caught).
TEST_F(ScheduledLoopTest, TheNotifyRecordOutlivesTheLoop) {
  std::promise<uint32_t> masterId;
  std::promise<void> loopReturned;
  std::string announcedProvider;
  uint16_t announcedKind = 0;
  std::thread master([&] {
    platform::EnsureMessageQueue();
    masterId.set_value(platform::CurrentThreadId());
    loopReturned.get_future().wait();
    platform::ThreadMessage message;
    while (platform::PeekThreadMessage(message, true)) {
      if (message.message != kModletMsgNotify) continue;
      const auto* record = reinterpret_cast<const SyncNotifyRecord*>(message.lParam);
      announcedKind = record->kind;
      announcedProvider = record->providerId;
    }
  });
  SetMasterThreadId(masterId.get_future().get());
  AnnounceNewData();
  // The first wait (timeout 0: no sync time yet) ends in an update; the second follows it.
  RunLoop(Loop::kScheduled, [this] {
    EXPECT_EQ(AwaitWait(1), 0u);
    ASSERT_TRUE(AwaitWait(2));
  });
  loopReturned.set_value();
  master.join();
  SetMasterThreadId(0);
  EXPECT_EQ(announcedKind, kSyncNotifyRecordKind);
  EXPECT_EQ(announcedProvider, kProvider);
}

using NotifiedLoopTest = LoopTest;

TEST_F(NotifiedLoopTest, WithoutASignalItWaitsWithoutTimeLimitThroughMessagesAndPrune) {
  RunLoop(Loop::kNotified, [this] {
    EXPECT_EQ(AwaitWait(1), platform::kInfinite);
    AdvanceSeconds(30 * 24 * 3600);
    platform::PostThreadMessage(LoopThreadId(), platform::kMessageUser, 0, 0);
    EXPECT_EQ(AwaitWait(2), platform::kInfinite);
    SignalEvent("MODLET_PRUNE");
    EXPECT_EQ(AwaitWait(3), platform::kInfinite);
  });
  EXPECT_TRUE(
      LoggedInOrder({{1, "Created sync notification event, event name=Global\\NOLTCMD_SYNC_EVENT_" +
                             kNames + ", handle="},
                     {1, "Current sync update stage is 0\n"},
                     {1, "Going to sleep with TO of -1 sec.\n"},
                     {1, "Dispatching windows message...\n"},
                     {1, "Received prune event...\n"},
                     {1, "Received shutdown event...\n"}}));
  EXPECT_EQ(CountLogged("Created sync notification event"), 1);
  EXPECT_EQ(CountLogged("Going to sleep with TO of -1 sec."), 3);
  EXPECT_EQ(CountLogged("Woke up on timeout"), 0);
  EXPECT_EQ(CountLogged("Update process starts"), 0);
}

// With the service's last attempt newer than the user's, the loop syncs at once; with an older
// one it waits for the service's signal.
class ServiceAttemptTest : public LoopTest, public ::testing::WithParamInterface<bool> {};

TEST_P(ServiceAttemptTest, OnlyANewerServiceAttemptSyncsBeforeTheSignal) {
  const bool serviceNewer = GetParam();
  const HxTime now = Now();
  const HxTime older = now.Add(-HxTime::kHour);
  sync_state::WriteHexTime(sync_state::kLastAttemptUpdateTime, serviceNewer ? older : now);
  PutServiceString("LastAttemptUpdateTimeHex", (serviceNewer ? now : older).ToHex().c_str());
  RunLoop(Loop::kNotified, [this, serviceNewer] {
    EXPECT_EQ(AwaitWait(1), platform::kInfinite);
    if (!serviceNewer) {
      EXPECT_EQ(CountLogged("Update process starts"), 0);
      SignalEvent("Global\\NOLTCMD_SYNC_EVENT");
    }
    EXPECT_EQ(AwaitWait(2), platform::kInfinite);
  });
  EXPECT_TRUE(LoggedInOrder({{1, "Received sync notification event from noltsvc...\n"},
                             {0, "Update process starts"},
                             {0, "Update process ends"},
                             {0, "Upload process starts"}}));
  EXPECT_EQ(CountLogged("Update process starts"), 1);
  if (serviceNewer) {
    EXPECT_EQ(StoredTime(sync_state::kLastAttemptUpdateTime).FileTime(), now.FileTime());
  }
}
INSTANTIATE_TEST_SUITE_P(NewerOrOlder, ServiceAttemptTest, ::testing::Bool());

}  // namespace
