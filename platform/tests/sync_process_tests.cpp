// Named objects shared with other processes and another account: events across processes, a
// mutex whose owning process ended, object lifetime, and what uid 65534 may do in the Global
// namespace (and cannot: squat root's names).
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

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

// Root's Global objects seen from uid 65534, and a squatter's attempts at root's names.
TEST_F(SyncProcessTest, AnotherAccountOpensOnlyEveryoneObjectsAndCannotSquatRootsNames) {
  if (!platform::testing::RunningAsRoot()) GTEST_SKIP() << "switching to uid 65534 needs root";
  ASSERT_TRUE(platform::testing::OpenSandboxToEveryAccount(sandbox_.Root()));
  auto everyone = Event::Create("Global\\everyone", true, false, ObjectAccess::Everyone);
  auto owner = Event::Create("Global\\owner", true, false, ObjectAccess::Owner);
  ASSERT_TRUE(everyone && owner);
  const struct {
    std::vector<std::string> command;
    const char* reply;
  } cases[] = {
      {{"open", "event", "Global\\everyone"}, "open 0"},
      {{"create", "event", "Global\\everyone"}, "create 183"},
      {{"open", "event", "Global\\owner"}, "open 5"},
      {{"open", "event", "Global\\missing"}, "open 2"},
      {{"create", "mutex", "Global\\__noltsvc__p"}, "create 5"},  // only root makes them
      {{"create", "mutex", "its_own"}, "create 0"},               // its local namespace
  };
  for (const auto& c : cases) {
    Peer other(c.command, true);
    EXPECT_EQ(other.ReadLine(), c.reply) << c.command[2];
  }
  auto waiting = std::make_unique<Peer>(std::vector<std::string>{"wait", "Global\\everyone"}, true);
  ASSERT_EQ(waiting->ReadLine(), "ready 0");
  ASSERT_TRUE(platform::testing::WaitUntilBlockedInPoll(waiting->Pid(), waiting->Pid()));
  ASSERT_TRUE(everyone->Set());
  EXPECT_EQ(waiting->ReadLine(), "result 0");  // woken across accounts

  // A file that the other account made and holds under root's name is nobody's object: its
  // own account ignores it and root makes the object afresh.
  const std::string file = NamedObjectDirectory(true) + "/o___noltsvc__p";
  Peer squatter({"squat", file}, true);
  ASSERT_EQ(squatter.ReadLine(), "squat 0");
  Peer agent({"open", "mutex", "Global\\__noltsvc__p"}, true);
  EXPECT_EQ(agent.ReadLine(), "open 2");
  EXPECT_EQ(RefusedWith(Mutex::Open("Global\\__noltsvc__p")), kErrorFileNotFound);
  auto service = Mutex::Create("Global\\__noltsvc__p", true);
  ASSERT_NE(service, nullptr);
  EXPECT_EQ(LastError(), kErrorSuccess);
  EXPECT_EQ(WaitForOne(*service, 0), kWaitObject0);  // owned, once more
  Peer later({"open", "mutex", "Global\\__noltsvc__p"}, true);
  EXPECT_EQ(later.ReadLine(), "open 5");  // root's now: the service is up
}

}  // namespace
