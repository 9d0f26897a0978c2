// Named objects shared with other processes and another account: auto and manual reset across
// processes, a mutex whose owning process was killed, object lifetime across processes, and
// the access list seen from uid 65534.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/errors.h"
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

// Starts a peer that waits on the named events and returns once it sits in its wait.
std::unique_ptr<Peer> StartWaitingPeer(const std::vector<std::string>& events) {
  std::vector<std::string> arguments = {"wait"};
  arguments.insert(arguments.end(), events.begin(), events.end());
  auto peer = std::make_unique<Peer>(arguments);
  EXPECT_EQ(peer->ReadLine(), "ready 0");
  EXPECT_TRUE(platform::testing::WaitUntilBlockedInPoll(peer->Pid(), peer->Pid()));
  return peer;
}

TEST_F(SyncProcessTest, AutoResetReleasesExactlyOneOfTwoWaitingProcessesAndManualResetEvery) {
  auto event = Event::Create("auto", false, false);
  auto finish = Event::Create("finish", true, false);
  auto first = StartWaitingPeer({"auto", "finish"});
  auto second = StartWaitingPeer({"auto", "finish"});
  ASSERT_TRUE(event->Set());
  std::vector<Peer*> peers = {first.get(), second.get()};
  size_t released = platform::testing::FirstPeerWithOutput(peers);
  EXPECT_EQ(peers[released]->ReadLine(), "result 0");
  // The other one is still waiting: the signal was taken once.
  ASSERT_TRUE(finish->Set());
  EXPECT_EQ(peers[1 - released]->ReadLine(), "result 1");
  EXPECT_EQ(WaitForOne(*event, 0), kWaitTimeout);
  EXPECT_EQ(first->Finish(), 0);
  EXPECT_EQ(second->Finish(), 0);

  auto manual = Event::Create("manual", true, false);
  auto firstOfAll = StartWaitingPeer({"manual"});
  auto secondOfAll = StartWaitingPeer({"manual"});
  ASSERT_TRUE(manual->Set());
  EXPECT_EQ(firstOfAll->ReadLine(), "result 0");
  EXPECT_EQ(secondOfAll->ReadLine(), "result 0");
  EXPECT_EQ(WaitForOne(*manual, 0), kWaitObject0);  // stays set
}

// The peers are stopped while the event is set and reset, so they can only learn of the set
// from its generation; the finish event (index 1) ends a wait that missed it.
TEST_F(SyncProcessTest, ManualResetSetAndResetAtOnceReleasesEveryWaitingProcess) {
  auto event = Event::Create("pulse", true, false);
  auto finish = Event::Create("finish", true, false);
  auto first = StartWaitingPeer({"pulse", "finish"});
  auto second = StartWaitingPeer({"pulse", "finish"});
  kill(first->Pid(), SIGSTOP);
  kill(second->Pid(), SIGSTOP);
  ASSERT_TRUE(event->Set());
  ASSERT_TRUE(event->Reset());
  ASSERT_TRUE(finish->Set());
  kill(first->Pid(), SIGCONT);
  kill(second->Pid(), SIGCONT);
  EXPECT_EQ(first->ReadLine(), "result 0");
  EXPECT_EQ(second->ReadLine(), "result 0");
  EXPECT_EQ(WaitForOne(*event, 0), kWaitTimeout);
}

TEST_F(SyncProcessTest, MutexOfAKilledOrExitedProcessIsTakenAbandoned) {
  auto mutex = Mutex::Create("owned", false);
  Peer owner({"own", "owned"});
  ASSERT_EQ(owner.ReadLine(), "owned 0");
  EXPECT_EQ(WaitForOne(*mutex, 0), kWaitTimeout);
  bool releasedAfterwards = false;
  WaitingThread waiter([&] {
    uint32_t result = WaitForOne(*mutex, kInfinite);
    releasedAfterwards = mutex->Release();
    return result;
  });
  EXPECT_TRUE(waiter.Blocked());  // not ASSERT: the kill below is what ends the waiter
  owner.Kill();
  EXPECT_EQ(waiter.Result(), kWaitAbandoned0);
  EXPECT_TRUE(releasedAfterwards);
  EXPECT_EQ(WaitForOne(*mutex, 0), kWaitObject0);  // abandoned once only
  EXPECT_TRUE(mutex->Release());

  Peer exiting({"own", "tidy"});
  ASSERT_EQ(exiting.ReadLine(), "owned 0");
  auto tidy = Mutex::Open("tidy");
  ASSERT_NE(tidy, nullptr);
  EXPECT_EQ(WaitForOne(*tidy, 0), kWaitTimeout);
  EXPECT_EQ(exiting.Finish(), 0);  // its main thread ends owning: abandoned at exit
  EXPECT_EQ(WaitForOne(*tidy, 0), kWaitAbandoned0);
}

TEST_F(SyncProcessTest, ObjectHeldByAnotherProcessLivesUntilThatProcessEnds) {
  Peer holder({"hold-event", "held"});
  ASSERT_EQ(holder.ReadLine(), "holding 0");
  {
    auto opened = Event::Create("held", true, true);
    ASSERT_NE(opened, nullptr);
    EXPECT_EQ(LastError(), kErrorAlreadyExists);
    EXPECT_EQ(WaitForOne(*opened, 0), kWaitTimeout);  // the holder's settings count
    opened->Set();
  }
  holder.Kill();
  EXPECT_EQ(RefusedWith(Event::Open("held")), kErrorFileNotFound);
  auto fresh = Event::Create("held", true, false);
  EXPECT_EQ(LastError(), kErrorSuccess);
  EXPECT_EQ(WaitForOne(*fresh, 0), kWaitTimeout);
}

// What uid 65534 manages with the Global objects that root made, reported over a pipe:
// "everyone E", "owner E" (the last errors of the two opens), "wait R".
std::vector<std::string> RunAsOtherAccount(const std::string& everyoneName,
                                           const std::string& ownerName,
                                           const std::string& replyName) {
  int report[2];
  if (pipe(report) != 0) return {};
  pid_t child = fork();
  if (child == 0) {
    close(report[0]);
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(3);
    auto everyone = Event::Open(everyoneName);
    platform::testing::WriteLineTo(report[1], "everyone " + std::to_string(LastError()));
    auto owner = Event::Open(ownerName);
    platform::testing::WriteLineTo(report[1], "owner " + std::to_string(LastError()));
    auto reply = Event::Open(replyName);
    if (!everyone || !reply || !everyone->Set()) _exit(4);
    platform::testing::WriteLineTo(report[1],
                                   "wait " + std::to_string(WaitForOne(*reply, kInfinite)));
    _exit(0);
  }
  close(report[1]);
  std::vector<std::string> lines;
  for (std::string line; !(line = platform::testing::ReadLineFrom(report[0])).empty();) {
    lines.push_back(line);
  }
  close(report[0]);
  waitpid(child, nullptr, 0);
  return lines;
}

TEST_F(SyncProcessTest, EveryoneObjectServesAnotherAccountAndOwnerObjectRefusesIt) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to switch to uid 65534";
  ASSERT_EQ(chmod(sandbox_.Root().c_str(), 0755), 0);
  auto signal = Event::Create("Global\\signal", false, false, ObjectAccess::Everyone);
  auto reply = Event::Create("Global\\reply", false, false, ObjectAccess::Everyone);
  auto secret = Event::Create("Global\\secret", false, false, ObjectAccess::Owner);
  auto childEnded = Event::Create("", true, false);
  ASSERT_TRUE(signal && reply && secret && childEnded);
  // The reply is set once the other account has signalled, so its wait blocks first or not at
  // all; either way it must return 0. A child that never signals ends the replier with 1.
  WaitingThread replier([&] {
    WaitObject* objects[] = {signal.get(), childEnded.get()};
    uint32_t result = WaitForAny(objects, kInfinite);
    reply->Set();
    return result;
  });
  std::vector<std::string> lines =
      RunAsOtherAccount("Global\\signal", "Global\\secret", "Global\\reply");
  childEnded->Set();
  EXPECT_EQ(replier.Result(), 0u);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "everyone 0");
  EXPECT_EQ(lines[1], "owner 5");
  EXPECT_EQ(lines[2], "wait 0");
}

}  // namespace
