// SwmrGuard across processes: readers and writers in peer processes, the writer's once-a-second
// poll and its time-out on the driven clock, holders that die inside, the names of the two
// objects, the invalid guard, and the Everyone access list for another account.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <thread>

#include "foundation/locks/swmr_guard.h"
#include "locks_peer_process.h"
#include "platform/clock.h"
#include "platform/sync.h"
#include "scoped_sandbox.h"
#include "trace_capture.h"

namespace {

using locks_testing::kFailureGuardMs;
using locks_testing::LocksPeer;
using platform::kWaitAbandoned0;
using platform::kWaitObject0;
using platform::kWaitTimeout;

constexpr uint32_t kInvalid = 0xFFFFFFFF;
constexpr uint32_t kPollMs = 1000;

// AcquireWrite on a thread of its own (the mutex belongs to the thread that took it), which
// holds what it took until Release(). Left early, it moves the driven clock until the acquire
// returned, so that a failing test ends.
class WriterThread {
 public:
  WriterThread(SwmrGuard& guard, uint32_t timeoutMs, platform::DrivenClock& clock)
      : clock_(clock), thread_([this, &guard, timeoutMs] {
          result_.set_value(guard.AcquireWrite(timeoutMs));
          platform::WaitForOne(*release_, platform::kInfinite);
          guard.ReleaseWrite();
        }) {}
  ~WriterThread() {
    Release();
    for (int round = 0; round < 100 && !Entered(); ++round) {
      clock_.Advance(kPollMs);
      entered_.wait_for(std::chrono::milliseconds(50));
    }
    thread_.join();
  }
  void Release() { release_->Set(); }
  bool Entered() const {
    return entered_.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
  }
  // The acquire's result; kInvalid when it did not come within the failure guard.
  uint32_t Result() const {
    auto guard = std::chrono::milliseconds(kFailureGuardMs);
    return entered_.wait_for(guard) == std::future_status::ready ? entered_.get() : kInvalid;
  }

 private:
  platform::DrivenClock& clock_;
  std::promise<uint32_t> result_;
  std::shared_future<uint32_t> entered_{result_.get_future().share()};
  std::unique_ptr<platform::Event> release_ = platform::Event::Create("", true, false);
  std::thread thread_;
};

class SwmrGuardTest : public ::testing::Test {
 protected:
  ~SwmrGuardTest() override { platform::InstallClock(nullptr); }

  // A writer in another process keeps the guard's readers out until it leaves.
  static void ExpectAPeerWriterKeepsReadersOut(SwmrGuard& guard, const std::string& name,
                                               const std::string& ns = "",
                                               bool otherAccount = false) {
    LocksPeer writer("write", name, "writer", ns, otherAccount);
    ASSERT_TRUE(writer.WaitInside());
    EXPECT_EQ(guard.AcquireRead(0), kWaitTimeout);
    EXPECT_EQ(writer.Finish(), 0);
    EXPECT_EQ(guard.AcquireRead(0), kWaitObject0);
    EXPECT_TRUE(guard.ReleaseRead());
  }

  static int32_t ReaderCount(const std::string& semaphoreName) {
    auto readers = platform::Semaphore::Open(semaphoreName);
    int32_t count = -1;
    return readers && readers->Count(count) ? count : -1;
  }

  platform::testing::ScopedSandbox sandbox_;
  platform::DrivenClock clock_;
};

TEST_F(SwmrGuardTest, ReadersInsideKeepAPollingWriterOutWhileTheWriterKeepsNewReadersOut) {
  SwmrGuard guard;
  ASSERT_TRUE(guard.Create("shared"));
  LocksPeer first("read", "shared", "first");
  LocksPeer second("read", "shared", "second");
  ASSERT_TRUE(first.WaitInside());
  ASSERT_TRUE(second.WaitInside());
  platform::InstallClock(&clock_);
  WriterThread writer(guard, 10 * kPollMs, clock_);
  ASSERT_TRUE(clock_.WaitUntilWaiting(1, kFailureGuardMs));  // holds the mutex, sleeps a second
  // Started only now, so that what keeps it out is the writer's mutex.
  LocksPeer late("read", "shared", "late");
  ASSERT_TRUE(late.Blocked());
  for (LocksPeer* leaving : {&first, &second}) {
    clock_.Advance(kPollMs);
    ASSERT_TRUE(clock_.WaitUntilWaiting(1, kFailureGuardMs));  // looked, and sleeps again
    EXPECT_FALSE(writer.Entered());
    EXPECT_EQ(leaving->Finish(), 0);
  }
  clock_.Advance(kPollMs - 1);
  ASSERT_TRUE(clock_.WaitUntilWaiting(1, kFailureGuardMs));
  EXPECT_FALSE(writer.Entered());  // it looks only once a second
  clock_.Advance(1);
  EXPECT_EQ(writer.Result(), kWaitObject0);
  EXPECT_FALSE(late.IsInside());
  writer.Release();
  EXPECT_TRUE(late.WaitInside());
  EXPECT_EQ(late.Finish(), 0);
}

// What a writer with a time-out meets: it returns within the time-out, and a holder that died
// inside no longer counts.
TEST_F(SwmrGuardTest, AWriterReturnsWithinItsTimeOutAndHoldersThatDiedDoNotKeepItOut) {
  struct Case {
    const char* holder;
    bool killed;
    uint32_t timeoutMs;
    uint32_t expected;
    uint32_t returnsAtMs;  // on the driven clock
  } const cases[] = {
      {"read", false, 500, kWaitTimeout, 500},  {"read", true, 500, kWaitObject0, 0},
      {"write", false, 0, kWaitTimeout, 0},     {"write", true, 0, kWaitAbandoned0, 0},
      {"write", false, 500, kWaitTimeout, 500},
  };
  int round = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.holder) + (c.killed ? " killed" : " alive") + " " +
                 std::to_string(c.timeoutMs));
    const std::string name = "timed" + std::to_string(round++);
    SwmrGuard guard;
    ASSERT_TRUE(guard.Create(name.c_str()));
    LocksPeer holder(c.holder, name, "holder");
    ASSERT_TRUE(holder.WaitInside());
    if (c.killed) holder.Kill();
    platform::DrivenClock clock;
    platform::InstallClock(&clock);
    WriterThread writer(guard, c.timeoutMs, clock);
    if (c.returnsAtMs > 0) {
      ASSERT_TRUE(clock.WaitUntilWaiting(1, kFailureGuardMs));
      clock.Advance(c.returnsAtMs - 1);
      ASSERT_TRUE(clock.WaitUntilWaiting(1, kFailureGuardMs));
      EXPECT_FALSE(writer.Entered());
      clock.Advance(1);
    }
    const uint32_t result = writer.Result();
    EXPECT_EQ(result, c.expected);
    // A writer that timed out holds nothing: readers enter unless the live holder writes.
    const bool writing = result != kWaitTimeout || (!c.killed && c.holder[0] == 'w');
    EXPECT_EQ(guard.AcquireRead(0), writing ? kWaitTimeout : kWaitObject0);
    if (!writing) {
      EXPECT_TRUE(guard.ReleaseRead());
    }
    platform::InstallClock(nullptr);
  }
}

TEST_F(SwmrGuardTest, TheSameNameInTwoProcessesReachesTheSameObjectsUnlessANamespaceComesFirst) {
  TraceCapture trace;
  SwmrGuard guard;
  ASSERT_TRUE(guard.Create("both"));
  SwmrGuard global;
  ASSERT_TRUE(global.Create("both", "Global"));
  for (const char* line :
       {"SWMRG mutex, name=NOLTSWMRG_MTX_NOWRITE_both, handle=",
        "SWMRG sem, name=NOLTSWMRG_SEM_READ_both, handle=", "SWMRG namespace=Global\n",
        "SWMRG mutex, name=Global\\NOLTSWMRG_MTX_NOWRITE_both, handle=",
        "SWMRG sem, name=Global\\NOLTSWMRG_SEM_READ_both, handle="}) {
    EXPECT_NE(trace.Text().find(line), std::string::npos) << line;
  }
  LocksPeer reader("read", "both", "reader");
  ASSERT_TRUE(reader.WaitInside());
  EXPECT_EQ(ReaderCount("NOLTSWMRG_SEM_READ_both"), 1);  // the peer's count
  EXPECT_EQ(ReaderCount("Global\\NOLTSWMRG_SEM_READ_both"), 0);
  EXPECT_EQ(reader.Finish(), 0);
  EXPECT_EQ(ReaderCount("NOLTSWMRG_SEM_READ_both"), 0);  // it took its count back
  ExpectAPeerWriterKeepsReadersOut(guard, "both");
  ExpectAPeerWriterKeepsReadersOut(global, "both", "Global");
}

TEST_F(SwmrGuardTest, AnInvalidGuardReturnsMinusOneAndFalseAndTouchesNothing) {
  SwmrGuard never;
  SwmrGuard unnamed;
  SwmrGuard destroyed;
  EXPECT_FALSE(unnamed.Create(nullptr));
  ASSERT_TRUE(destroyed.Create("gone"));
  destroyed.Destroy();
  for (SwmrGuard* guard : {&never, &unnamed, &destroyed}) {
    EXPECT_EQ(std::make_pair(guard->AcquireRead(0), guard->AcquireWrite(platform::kInfinite)),
              std::make_pair(kInvalid, kInvalid));
    EXPECT_FALSE(guard->IsValid() || guard->ReleaseRead() || guard->ReleaseWrite() ||
                 guard->AllowEveryone());
  }
  EXPECT_EQ(platform::Mutex::Open("NOLTSWMRG_MTX_NOWRITE_gone"), nullptr);  // its handles closed
}

TEST_F(SwmrGuardTest, AllowEveryoneLetsAnotherAccountUseAGuardThatRootMade) {
  if (!locks_testing::RunningAsRoot()) GTEST_SKIP() << "switching to uid 65534 needs root";
  ASSERT_TRUE(locks_testing::OpenSandboxToEveryAccount(sandbox_.Root()));
  SwmrGuard guard;
  ASSERT_TRUE(guard.Create("service", "Global"));
  LocksPeer refused("write", "service", "refused", "Global", true);
  EXPECT_EQ(refused.Finish(), 2);  // the objects are root's alone
  ASSERT_TRUE(guard.AllowEveryone());
  ExpectAPeerWriterKeepsReadersOut(guard, "service", "Global", true);
  LocksPeer reader("read", "service", "reader", "Global", true);
  ASSERT_TRUE(reader.WaitInside());
  EXPECT_EQ(ReaderCount("Global\\NOLTSWMRG_SEM_READ_service"), 1);
  reader.Kill();  // its unit leaves with it, whatever account it ran as
  EXPECT_EQ(guard.AcquireWrite(0), kWaitObject0);
  EXPECT_TRUE(guard.ReleaseWrite());
}

}  // namespace
