// Waiting for any of several objects: list order, thread messages, the driven clock, abandoned
// mutexes, and a forked child's own wait state.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>
#include <vector>

#include "platform/clock.h"
#include "platform/errors.h"
#include "platform/messages.h"
#include "platform/sync.h"
#include "scoped_sandbox.h"
#include "sync_test_support.h"

namespace {

using namespace platform;
using platform::testing::WaitingThread;

class SyncWaitTest : public ::testing::Test {
 protected:
  void TearDown() override { InstallClock(nullptr); }
  platform::testing::ScopedSandbox sandbox_;
};

std::vector<std::unique_ptr<Event>> MakeEvents(int count, bool manualReset) {
  std::vector<std::unique_ptr<Event>> events;
  for (int i = 0; i < count; ++i) {
    events.push_back(Event::Create("event" + std::to_string(i), manualReset, false));
  }
  return events;
}

std::vector<WaitObject*> Pointers(const std::vector<std::unique_ptr<Event>>& events) {
  std::vector<WaitObject*> objects;
  for (const auto& event : events) objects.push_back(event.get());
  return objects;
}

TEST_F(SyncWaitTest, WaitForAnyReportsTheLowestSignalledIndex) {
  auto events = MakeEvents(3, false);
  auto objects = Pointers(events);
  EXPECT_EQ(WaitForAny(objects, 0), kWaitTimeout);
  events[2]->Set();
  events[1]->Set();
  EXPECT_EQ(WaitForAny(objects, 0), 1u);
  EXPECT_EQ(WaitForAny(objects, 0), 2u);
  EXPECT_EQ(WaitForAny(objects, 0), kWaitTimeout);

  auto semaphore = Semaphore::Create("slot", 1, 1);
  events[0]->Set();
  WaitObject* mixed[] = {semaphore.get(), events[0].get()};
  EXPECT_EQ(WaitForAny(mixed, 0), 0u);
  EXPECT_EQ(WaitForAny(mixed, 0), 1u);
}

TEST_F(SyncWaitTest, TooManyOrMissingObjectsFailTheWait) {
  auto event = Event::Create("", false, true);
  std::vector<WaitObject*> tooMany(65, event.get());
  EXPECT_EQ(WaitForAny(tooMany, 0), kWaitFailed);
  EXPECT_EQ(LastError(), kErrorInvalidParameter);
  WaitObject* missing[] = {event.get(), nullptr};
  EXPECT_EQ(WaitForAny(missing, 0), kWaitFailed);
  EXPECT_EQ(LastError(), kErrorInvalidHandle);
}

TEST_F(SyncWaitTest, BlockedWaitWakesWhenAnotherThreadSignals) {
  auto events = MakeEvents(2, false);
  WaitingThread waiter([&] { return WaitForAny(Pointers(events), kInfinite); });
  ASSERT_TRUE(waiter.Blocked());
  events[1]->Set();
  EXPECT_EQ(waiter.Result(), 1u);
  EXPECT_EQ(WaitForOne(*events[1], 0), kWaitTimeout);  // the wake consumed the auto reset
}

TEST_F(SyncWaitTest, MessagePostedFromAnotherThreadWakesTheWaitWithIndexN) {
  auto events = MakeEvents(2, false);
  ThreadMessage received;
  WaitingThread waiter([&] {
    EnsureMessageQueue();
    uint32_t result = WaitForAny(Pointers(events), kInfinite, true);
    PeekThreadMessage(received, true);
    return result;
  });
  ASSERT_TRUE(waiter.Blocked());
  ASSERT_TRUE(PostThreadMessage(waiter.ThreadId(), 0x433, 7, -9));
  EXPECT_EQ(waiter.Result(), 2u);
  EXPECT_EQ(received.message, 0x433u);
  EXPECT_EQ(received.wParam, 7u);
  EXPECT_EQ(received.lParam, -9);
}

TEST_F(SyncWaitTest, QueuedMessageEndsTheWaitOnlyWhenAskedAndAfterTheObjects) {
  auto event = Event::Create("first", false, false);
  WaitObject* objects[] = {event.get()};
  EnsureMessageQueue();
  ASSERT_TRUE(PostThreadMessage(CurrentThreadId(), kMessageUser, 0, 0));
  EXPECT_EQ(WaitForAny(objects, 0, false), kWaitTimeout);
  EXPECT_EQ(WaitForAny(objects, kInfinite, true), 1u);
  EXPECT_EQ(WaitForAny(objects, 0, true), 1u);  // the wait leaves the message queued
  event->Set();
  EXPECT_EQ(WaitForAny(objects, 0, true), 0u);
  EXPECT_EQ(WaitForAny({}, kInfinite, true), 0u);
  ThreadMessage message;
  ASSERT_TRUE(PeekThreadMessage(message, true));
  EXPECT_EQ(WaitForAny(objects, 0, true), kWaitTimeout);
}

TEST_F(SyncWaitTest, ThreadMessagesKeepTheirOrderAndQuitEndsGet) {
  EnsureMessageQueue();
  uint32_t self = CurrentThreadId();
  ASSERT_TRUE(PostThreadMessage(self, kMessageUser + 1, 1, 0));
  ASSERT_TRUE(PostThreadMessage(self, kMessageUser + 2, 2, 0));
  ASSERT_TRUE(PostThreadMessage(self, kMessageQuit, 0, 0));
  ThreadMessage message;
  ASSERT_TRUE(PeekThreadMessage(message, false));
  ASSERT_TRUE(PeekThreadMessage(message, false));
  EXPECT_EQ(message.message, kMessageUser + 1);
  EXPECT_TRUE(GetThreadMessage(message));
  EXPECT_EQ(message.wParam, 1u);
  DispatchThreadMessage(message);
  EXPECT_TRUE(GetThreadMessage(message));
  EXPECT_EQ(message.wParam, 2u);
  EXPECT_FALSE(GetThreadMessage(message));
  EXPECT_EQ(message.message, kMessageQuit);
  EXPECT_FALSE(PeekThreadMessage(message, false));
}

TEST_F(SyncWaitTest, PostingToAThreadWithoutAQueueFailsWith1444) {
  auto release = Event::Create("release", false, false);
  WaitingThread withoutQueue([&] { return WaitForOne(*release, kInfinite); });
  EXPECT_FALSE(PostThreadMessage(withoutQueue.ThreadId(), kMessageUser, 0, 0));
  EXPECT_EQ(LastError(), kErrorInvalidThreadId);
  release->Set();
  withoutQueue.Result();

  WaitingThread ended([] {
    EnsureMessageQueue();
    return 0u;
  });
  ended.Result();
  EXPECT_FALSE(PostThreadMessage(ended.ThreadId(), kMessageUser, 0, 0));
  EXPECT_EQ(LastError(), kErrorInvalidThreadId);
}

TEST_F(SyncWaitTest, TimedWaitEndsExactlyAtItsDeadlineOnTheDrivenClock) {
  DrivenClock clock;
  InstallClock(&clock);
  auto event = Event::Create("late", false, false);
  EXPECT_EQ(WaitForOne(*event, 0), kWaitTimeout);

  WaitingThread notYet([&] { return WaitForOne(*event, 5000); });
  ASSERT_TRUE(notYet.Blocked());
  clock.Advance(4999);
  event->Set();  // had the wait ended early, it would have reported 258
  EXPECT_EQ(notYet.Result(), 0u);

  WaitingThread timedOut([&] { return WaitForOne(*event, 5000); });
  ASSERT_TRUE(timedOut.Blocked());
  clock.Advance(2000);
  clock.Advance(3000);
  EXPECT_EQ(timedOut.Result(), kWaitTimeout);
}

TEST_F(SyncWaitTest, SleepFollowsTheDrivenClock) {
  DrivenClock clock;
  InstallClock(&clock);
  constexpr uint32_t kHourMs = 3600 * 1000;
  WaitingThread sleeper([] {
    SleepMs(kHourMs);
    return TickCount();
  });
  ASSERT_TRUE(sleeper.Blocked());
  clock.Advance(kHourMs);
  EXPECT_EQ(sleeper.Result(), kHourMs);
}

TEST_F(SyncWaitTest, MutexOfAnEndedThreadIsTakenAbandoned) {
  auto mutex = Mutex::Create("left", false);
  WaitingThread owner([&] { return WaitForOne(*mutex, kInfinite); });
  ASSERT_EQ(owner.Result(), 0u);
  auto event = Event::Create("", false, false);
  WaitObject* objects[] = {event.get(), mutex.get()};
  EXPECT_EQ(WaitForAny(objects, 0), kWaitAbandoned0 + 1);
  EXPECT_EQ(WaitForOne(*mutex, 0), kWaitObject0);  // now owned normally, twice
  EXPECT_TRUE(mutex->Release());
  EXPECT_TRUE(mutex->Release());
  EXPECT_FALSE(mutex->Release());
}

TEST_F(SyncWaitTest, WaiterWakesAbandonedWhenTheOwningThreadEnds) {
  auto mutex = Mutex::Create("owned", false);
  auto finish = Event::Create("finish", false, false);
  WaitingThread owner([&] {
    WaitForOne(*mutex, kInfinite);
    return WaitForOne(*finish, kInfinite);
  });
  ASSERT_TRUE(owner.Blocked());  // owns the mutex, waits for the finish
  WaitingThread waiter([&] { return WaitForOne(*mutex, kInfinite); });
  ASSERT_TRUE(waiter.Blocked());
  finish->Set();
  owner.Result();
  EXPECT_EQ(waiter.Result(), kWaitAbandoned0);
}

// The forked child gets its own message queue and inotify descriptor.
TEST_F(SyncWaitTest, ForkedChildWaitsWithItsOwnQueue) {
  EnsureMessageQueue();
  auto event = Event::Create("forked", false, false);
  WaitObject* objects[] = {event.get()};
  EXPECT_EQ(WaitForAny(objects, 0, true), kWaitTimeout);  // makes this thread's inotify
  pid_t child = fork();
  if (child == 0) {
    bool ok = PostThreadMessage(CurrentThreadId(), kMessageUser, 0, 0) &&
              WaitForAny({}, kInfinite, true) == 0;
    ThreadMessage message;
    ok = ok && PeekThreadMessage(message, true) && WaitForOne(*event, kInfinite) == 0;
    _exit(ok ? 0 : 1);
  }
  ASSERT_GT(child, 0);
  ASSERT_TRUE(platform::testing::WaitUntilBlockedInPoll(child, child));
  ThreadMessage message;
  EXPECT_FALSE(PeekThreadMessage(message, false));
  event->Set();
  int status = -1;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace
