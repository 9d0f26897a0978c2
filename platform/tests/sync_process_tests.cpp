// Named objects shared with other processes and another account: events across processes, a
// mutex whose owning process ended, object lifetime, and what uid 65534 may do in the Global
// namespace (and cannot: squat root's names or see root's leftovers as objects).
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/clock.h"
#include "platform/errors.h"
#include "platform/sandbox.h"
#include "platform/sync.h"
#include "scoped_sandbox.h"
#include "sync_test_support.h"

namespace {

using namespace platform;
using platform::testing::Peer;
using platform::testing::RefusedWith;
using platform::testing::WaitingThread;

class SyncProcessTest : public ::testing::Test {
 protected:
  platform::testing::ScopedSandbox sandbox_;
};

// A peer waiting on the named events, once it sits in its wait.
std::unique_ptr<Peer> WaitingPeer(const std::vector<std::string>& events) {
  std::vector<std::string> arguments{"wait"};
  arguments.insert(arguments.end(), events.begin(), events.end());
  auto peer = std::make_unique<Peer>(arguments);
  EXPECT_EQ(peer->ReadLine(), "ready 0");
  EXPECT_TRUE(platform::testing::WaitUntilBlockedInPoll(peer->Pid(), peer->Pid()));
  return peer;
}

// Two processes wait for {event, finish}; the event is set (and with `resetAtOnce` reset while
// they are stopped, so that only its generation tells), then the finish event.
TEST_F(SyncProcessTest, AutoResetReleasesOneWaitingProcessAndManualResetEveryOneEvenIfResetAtOnce) {
  struct Case {
    bool manualReset;
    bool resetAtOnce;
    std::vector<std::string> results;  // of both peers, sorted
    uint32_t stateAfter;
  } const cases[] = {{false, false, {"result 0", "result 1"}, kWaitTimeout},
                     {true, false, {"result 0", "result 0"}, kWaitObject0},
                     {true, true, {"result 0", "result 0"}, kWaitTimeout}};
  int round = 0;
  for (const Case& c : cases) {
    const std::string name = "event" + std::to_string(round++);
    auto event = Event::Create(name, c.manualReset, false);
    auto finish = Event::Create(name + "finish", true, false);
    auto first = WaitingPeer({name, name + "finish"});
    auto second = WaitingPeer({name, name + "finish"});
    for (Peer* peer : {first.get(), second.get()}) {
      if (c.resetAtOnce) kill(peer->Pid(), SIGSTOP);
    }
    ASSERT_TRUE(event->Set());
    if (c.resetAtOnce) {
      ASSERT_TRUE(event->Reset());
    }
    ASSERT_TRUE(finish->Set());
    std::vector<std::string> results;
    for (Peer* peer : {first.get(), second.get()}) {
      kill(peer->Pid(), SIGCONT);
      results.push_back(peer->ReadLine());
    }
    std::sort(results.begin(), results.end());
    EXPECT_EQ(results, c.results) << name;
    EXPECT_EQ(WaitForOne(*event, 0), c.stateAfter) << name;
  }
}

TEST_F(SyncProcessTest, AWaiterTakesTheMutexOfAKilledOrExitedProcessAbandonedOnce) {
  for (bool killed : {true, false}) {
    const std::string name = killed ? "killed" : "exited";
    Peer owner({"create", "mutex", name});
    ASSERT_EQ(owner.ReadLine(), "create 0");
    auto mutex = Mutex::Open(name);
    ASSERT_NE(mutex, nullptr);
    EXPECT_EQ(WaitForOne(*mutex, 0), kWaitTimeout);
    WaitingThread waiter([&] {
      uint32_t result = WaitForOne(*mutex, kInfinite);
      return mutex->Release() ? result : kWaitFailed;
    });
    EXPECT_TRUE(waiter.Blocked());  // not ASSERT: the owner's end is what ends the waiter
    if (killed) {
      owner.Kill();
    } else {
      EXPECT_EQ(owner.Finish(), 0);  // its main thread ends owning
    }
    EXPECT_EQ(waiter.Result(), kWaitAbandoned0) << name;
    EXPECT_EQ(WaitForOne(*mutex, 0), kWaitObject0);  // abandoned once only
    EXPECT_TRUE(mutex->Release());
  }
}

TEST_F(SyncProcessTest, ObjectHeldByAnotherProcessLivesUntilThatProcessEnds) {
  Peer holder({"create", "event", "held"});
  ASSERT_EQ(holder.ReadLine(), "create 0");
  auto opened = Event::Create("held", false, true);
  ASSERT_NE(opened, nullptr);
  EXPECT_EQ(LastError(), kErrorAlreadyExists);
  EXPECT_EQ(WaitForOne(*opened, 0), kWaitTimeout);  // the holder's settings count
  opened.reset();
  holder.Kill();
  EXPECT_EQ(RefusedWith(Event::Open("held")), kErrorFileNotFound);
  auto fresh = Event::Create("held", true, false);
  EXPECT_EQ(LastError(), kErrorSuccess);
}

// Global objects across accounts: uid 65534 makes its own under a free name, which root may
// open and signal (keeping its lock stops root for a bounded time only); it opens root's only
// with the Everyone list, sees root's others as existing (5) only while a handle holds them,
// and cannot take a name that root's file holds.
TEST_F(SyncProcessTest, AnotherAccountMakesFreeGlobalNamesAndUsesOnlyWhatRootSharesAndHolds) {
  if (!platform::testing::RunningAsRoot()) GTEST_SKIP() << "switching to uid 65534 needs root";
  ASSERT_TRUE(platform::testing::OpenSandboxToEveryAccount(sandbox_.Root()));
  auto everyone = Event::Create("Global\\everyone", true, false, ObjectAccess::Everyone);
  auto owner = Event::Create("Global\\owner", true, false, ObjectAccess::Owner);
  ASSERT_TRUE(everyone && owner);
  Peer killed({"create", "mutex", "Global\\killed"});  // a service killed while it held it
  ASSERT_EQ(killed.ReadLine(), "create 0");
  killed.Kill();
  const struct {
    std::vector<std::string> command;
    const char* reply;
  } cases[] = {
      {{"open", "event", "Global\\everyone"}, "open 0"},
      {{"create", "event", "Global\\everyone"}, "create 183"},
      {{"open", "event", "Global\\owner"}, "open 5"},
      {{"create", "event", "Global\\owner"}, "create 5"},
      {{"open", "mutex", "Global\\killed"}, "open 2"},
      {{"create", "mutex", "Global\\killed"}, "create 5"},  // root's file stays root's
      {{"open", "event", "Global\\missing"}, "open 2"},
      {{"create", "mutex", "Global\\its_own"}, "create 0"},
      {{"create", "mutex", "its_own"}, "create 0"},  // its local namespace
  };
  for (const auto& c : cases) {
    Peer other(c.command, true);
    EXPECT_EQ(other.ReadLine(), c.reply) << c.command[0] << " " << c.command[2];
  }
  // Root signals an event that the other account made and waits on (the service waking a
  // user's agent). While the account keeps the event's state lock, root's steps fail within
  // the bound of the platform clock, or count the event as unsignalled, and never hang.
  const std::string directory = NamedObjectDirectory(true);
  Peer waiting({"wait", "Global\\everyone", "Global\\agent"}, true);
  ASSERT_EQ(waiting.ReadLine(), "ready 0");
  ASSERT_TRUE(platform::testing::WaitUntilBlockedInPoll(waiting.Pid(), waiting.Pid()));
  auto agentEvent = Event::Open("Global\\agent");
  auto closedWhileLocked = Event::Open("Global\\agent");
  auto ownSet = Event::Create("", true, true);
  ASSERT_TRUE(agentEvent && closedWhileLocked && ownSet);
  WaitObject* agentOrOwn[] = {agentEvent.get(), ownSet.get()};
  {
    DrivenClock clock;
    InstallClock(&clock);
    Peer locker({"lock", directory + "/o_agent"}, true);
    ASSERT_EQ(locker.ReadLine(), "lock 0");
    const struct {
      const char* step;
      std::function<uint32_t()> run;
      uint64_t advanceMs;  // of the clock once the step waits on it
      uint32_t result;
    } steps[] = {
        {"open", [] { return RefusedWith(Event::Open("Global\\agent")); }, kForeignObjectLockMs,
         kErrorInvalidHandle},
        {"set", [&] { return agentEvent->Set() ? 0 : LastError(); }, kForeignObjectLockMs,
         kErrorLockViolation},
        {"wait for it or a set event", [&] { return WaitForAny(agentOrOwn, kInfinite); }, 0, 1},
        {"wait for it alone", [&] { return WaitForOne(*agentEvent, 50); }, 50, kWaitTimeout},
        {"close", [&] { return closedWhileLocked.reset(), 0u; }, 0, 0},
    };
    for (const auto& step : steps) {
      auto done = std::async(std::launch::async, step.run);
      if (step.advanceMs > 0) {
        EXPECT_TRUE(clock.WaitUntilWaiting(1, platform::testing::kFailureGuardMs)) << step.step;
        clock.Advance(step.advanceMs);
      }
      if (done.wait_for(std::chrono::milliseconds(platform::testing::kFailureGuardMs)) !=
          std::future_status::ready) {
        ADD_FAILURE() << step.step << " hangs on the other account's lock";
        locker.Kill();
      }
      EXPECT_EQ(done.get(), step.result) << step.step;
    }
    EXPECT_EQ(locker.Finish(), 0);  // lets go of the lock
  }
  ASSERT_TRUE(agentEvent->Set());
  EXPECT_EQ(waiting.ReadLine(), "result 1");

  // A file that a stranger made by hand and holds under root's name, or a link, is no object
  // to uid 65534; root's Open finds no state in the file, and root's Create makes the object
  // afresh.
  Peer squatter({"squat", directory + "/o___noltsvc__p"}, true);
  ASSERT_EQ(squatter.ReadLine(), "squat 0");
  ASSERT_EQ(symlink("o___noltsvc__p", (directory + "/o_linked").c_str()), 0);
  for (const char* file : {"/o___noltsvc__p", "/o_linked"}) {  // another account than the peers'
    ASSERT_EQ(lchown((directory + file).c_str(), 65533, 65533), 0);
  }
  const struct {
    const char* name;
    uint32_t rootOpens;
  } squats[] = {{"Global\\__noltsvc__p", kErrorInvalidHandle},
                {"Global\\linked", kErrorFileNotFound}};
  for (const auto& squat : squats) {
    for (const auto& [command, reply] : {std::pair{"open", "open 2"}, {"create", "create 5"}}) {
      Peer agent({command, "mutex", squat.name}, true);
      EXPECT_EQ(agent.ReadLine(), reply) << squat.name;
    }
    EXPECT_EQ(RefusedWith(Mutex::Open(squat.name)), squat.rootOpens) << squat.name;
    auto service = Mutex::Create(squat.name, true);
    ASSERT_NE(service, nullptr) << squat.name;
    EXPECT_EQ(LastError(), kErrorSuccess);
    EXPECT_EQ(WaitForOne(*service, 0), kWaitObject0);  // owned, once more
    Peer later({"open", "mutex", squat.name}, true);
    EXPECT_EQ(later.ReadLine(), "open 5") << squat.name;  // root's now: the service is up
  }
}

}  // namespace
