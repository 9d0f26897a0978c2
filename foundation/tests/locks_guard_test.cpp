// SwmrGuard across processes: readers and writers in peer processes, the writer's once-a-second
// poll on the driven clock, the names of the two objects, the invalid guard, and the Everyone
// access list for another account.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
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

constexpr uint32_t kInvalid = 0xFFFFFFFF;
constexpr uint32_t kPollMs = 1000;

// AcquireWrite on a thread of its own, which holds the guard until the test lets it go: the
// mutex belongs to the thread that acquired it.
class WriterThread {
 public:
  explicit WriterThread(SwmrGuard& guard) : release_(platform::Event::Create("", true, false)) {
    thread_ = std::thread([this, &guard] {
      result_.set_value(guard.AcquireWrite(platform::kInfinite));
      platform::WaitForOne(*release_, platform::kInfinite);
      guard.ReleaseWrite();
    });
  }
  ~WriterThread() {
    release_->Set();
    thread_.join();
  }
  bool Entered() const {
    return entered_.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
  }
  // The acquire's result; kInvalid when it did not come within the failure guard.
  uint32_t Result() const {
    auto guard = std::chrono::milliseconds(kFailureGuardMs);
    return entered_.wait_for(guard) == std::future_status::ready ? entered_.get() : kInvalid;
  }

 private:
  std::promise<uint32_t> result_;
  std::shared_future<uint32_t> entered_{result_.get_future().share()};
  std::unique_ptr<platform::Event> release_;
  std::thread thread_;
};

class SwmrGuardTest : public ::testing::Test {
 protected:
  // A writer in another process keeps the guard's readers out until it leaves; `whileInside`
  // runs while it is in.
  static void ExpectAPeerWriterKeepsReadersOut(SwmrGuard& guard, const std::string& name,
                                               const std::string& ns = "",
                                               bool otherAccount = false,
                                               const std::function<void()>& whileInside = {}) {
    LocksPeer writer("write", name, "writer", ns, otherAccount);
    ASSERT_TRUE(writer.WaitInside());
    EXPECT_EQ(guard.AcquireRead(0), platform::kWaitTimeout);
    if (whileInside) whileInside();
    EXPECT_EQ(writer.Finish(), 0);
    EXPECT_EQ(guard.AcquireRead(0), platform::kWaitObject0);
    EXPECT_TRUE(guard.ReleaseRead());
  }

  // True when the named reader semaphore counts exactly one reader (looked at and left as is).
  static bool CountsOneReader(const std::string& semaphoreName) {
    auto readers = platform::Semaphore::Open(semaphoreName);
    if (!readers || platform::WaitForOne(*readers, 0) != platform::kWaitObject0) return false;
    bool onlyOne = platform::WaitForOne(*readers, 0) == platform::kWaitTimeout;
    if (!onlyOne) readers->Release(1);
    return readers->Release(1) && onlyOne;
  }

  platform::testing::ScopedSandbox sandbox_;
};

TEST_F(SwmrGuardTest, ReadersInsideKeepAWriterPollingWhileANewReaderWaitsForTheMutex) {
  SwmrGuard guard;
  ASSERT_TRUE(guard.Create("shared"));
  LocksPeer first("read", "shared", "first");
  LocksPeer second("read", "shared", "second");
  ASSERT_TRUE(first.WaitInside());
  ASSERT_TRUE(second.WaitInside());

  platform::DrivenClock clock;
  platform::InstallClock(&clock);
  LocksPeer late("read", "shared", "late");
  {
    WriterThread writer(guard);
    ASSERT_TRUE(clock.WaitUntilWaiting(1, kFailureGuardMs));  // holds the mutex, sleeps a second
    ASSERT_TRUE(late.Blocked());                              // kept out by the writer's mutex
    for (int poll = 0; poll < 3; ++poll) {
      clock.Advance(kPollMs);
      ASSERT_TRUE(clock.WaitUntilWaiting(1, kFailureGuardMs));  // looked, and sleeps again
      EXPECT_FALSE(writer.Entered());
    }
    EXPECT_EQ(first.Finish(), 0);
    clock.Advance(kPollMs);
    ASSERT_TRUE(clock.WaitUntilWaiting(1, kFailureGuardMs));
    EXPECT_FALSE(writer.Entered());  // one reader is still inside
    EXPECT_EQ(second.Finish(), 0);
    clock.Advance(kPollMs - 1);
    ASSERT_TRUE(clock.WaitUntilWaiting(1, kFailureGuardMs));
    EXPECT_FALSE(writer.Entered());  // it looks only once a second
    clock.Advance(1);
    EXPECT_EQ(writer.Result(), platform::kWaitObject0);
    EXPECT_FALSE(late.IsInside());
    platform::InstallClock(nullptr);
  }  // the writer releases
  EXPECT_TRUE(late.WaitInside());
  EXPECT_EQ(late.Finish(), 0);
}

TEST_F(SwmrGuardTest,
       AWriterWithTimeOutZeroAgainstAnotherGets258AndOneThatDiesLeavesTheGuardAbandoned) {
  LocksPeer holder("write", "exclusive", "holder");
  ASSERT_TRUE(holder.WaitInside());
  SwmrGuard guard;
  ASSERT_TRUE(guard.Create("exclusive"));
  EXPECT_EQ(guard.AcquireWrite(0), platform::kWaitTimeout);
  EXPECT_FALSE(guard.ReleaseWrite());
  EXPECT_EQ(guard.AcquireRead(0), platform::kWaitTimeout);
  EXPECT_EQ(holder.Finish(), 0);
  EXPECT_EQ(guard.AcquireWrite(0), platform::kWaitObject0);
  EXPECT_TRUE(guard.ReleaseWrite());

  LocksPeer dying("write", "crashed", "dying");
  ASSERT_TRUE(dying.WaitInside());
  SwmrGuard crashed;
  ASSERT_TRUE(crashed.Create("crashed"));
  ASSERT_EQ(crashed.AcquireRead(0), platform::kWaitTimeout);
  dying.Kill();
  EXPECT_EQ(crashed.AcquireWrite(0), platform::kWaitAbandoned0);  // inside all the same
  EXPECT_TRUE(crashed.ReleaseWrite());
  EXPECT_EQ(crashed.AcquireRead(0), platform::kWaitObject0);
  EXPECT_TRUE(crashed.ReleaseRead());
}

TEST_F(SwmrGuardTest, TheSameNameInTwoProcessesReachesTheSameObjectsUnlessANamespaceComesFirst) {
  TraceCapture trace;
  SwmrGuard guard;
  ASSERT_TRUE(guard.Create("both"));
  EXPECT_NE(trace.Text().find("SWMRG mutex, name=NOLTSWMRG_MTX_NOWRITE_both, handle="),
            std::string::npos);
  EXPECT_NE(trace.Text().find("SWMRG sem, name=NOLTSWMRG_SEM_READ_both, handle="),
            std::string::npos);

  LocksPeer reader("read", "both", "reader");
  ASSERT_TRUE(reader.WaitInside());
  EXPECT_TRUE(CountsOneReader("NOLTSWMRG_SEM_READ_both"));  // the peer's count
  EXPECT_EQ(reader.Finish(), 0);
  auto readers = platform::Semaphore::Open("NOLTSWMRG_SEM_READ_both");
  ASSERT_NE(readers, nullptr);
  EXPECT_EQ(platform::WaitForOne(*readers, 0), platform::kWaitTimeout);  // it took its count back

  ExpectAPeerWriterKeepsReadersOut(guard, "both");

  // A namespace goes before the object names.
  TraceCapture namespaced;
  SwmrGuard global;
  ASSERT_TRUE(global.Create("wide", "Global"));
  EXPECT_NE(namespaced.Text().find("SWMRG namespace=Global\n"), std::string::npos);
  EXPECT_NE(namespaced.Text().find("SWMRG mutex, name=Global\\NOLTSWMRG_MTX_NOWRITE_wide, handle="),
            std::string::npos);

  ExpectAPeerWriterKeepsReadersOut(global, "wide", "Global", false, [] {
    SwmrGuard local;  // the same name without the namespace is another guard
    ASSERT_TRUE(local.Create("wide"));
    EXPECT_EQ(local.AcquireRead(0), platform::kWaitObject0);
    EXPECT_TRUE(local.ReleaseRead());
  });
}

TEST_F(SwmrGuardTest, AnInvalidGuardReturnsMinusOneAndFalseAndTouchesNothing) {
  SwmrGuard never;
  SwmrGuard unnamed;
  SwmrGuard destroyed;
  EXPECT_FALSE(unnamed.Create(nullptr));
  ASSERT_TRUE(destroyed.Create("gone"));
  destroyed.Destroy();
  for (SwmrGuard* guard : {&never, &unnamed, &destroyed}) {
    EXPECT_FALSE(guard->IsValid());
    EXPECT_EQ(guard->AcquireRead(0), kInvalid);
    EXPECT_EQ(guard->AcquireWrite(platform::kInfinite), kInvalid);
    EXPECT_FALSE(guard->ReleaseRead());
    EXPECT_FALSE(guard->ReleaseWrite());
    EXPECT_FALSE(guard->AllowEveryone());
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
  EXPECT_TRUE(CountsOneReader("Global\\NOLTSWMRG_SEM_READ_service"));
  EXPECT_EQ(reader.Finish(), 0);
  EXPECT_EQ(guard.AcquireWrite(0), platform::kWaitObject0);
  EXPECT_TRUE(guard.ReleaseWrite());
}

}  // namespace
