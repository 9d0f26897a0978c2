// Waiting for any of several objects: list order, thread messages, the driven clock, abandoned
// mutexes, and a forked child's own wait state; error numbers and texts, the thread's last
// error, and the clocks.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
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

  // Auto-reset events "event0".."eventN-1" and the list of them.
  void MakeEvents(int count) {
    for (int i = 0; i < count; ++i) {
      events_.push_back(Event::Create("event" + std::to_string(i), false, false));
      objects_.push_back(events_.back().get());
    }
  }

  platform::testing::ScopedSandbox sandbox_;
  std::vector<std::unique_ptr<Event>> events_;
  std::vector<WaitObject*> objects_;
};

TEST_F(SyncWaitTest, WaitForAnyTakesTheLowestSignalledIndexWakesWhenOneIsSetAndRefusesBadLists) {
  MakeEvents(3);
  auto semaphore = Semaphore::Create("slot", 1, 1);
  objects_.insert(objects_.begin(), semaphore.get());
  events_[2]->Set();
  events_[1]->Set();
  for (uint32_t expected : {0u, 2u, 3u, kWaitTimeout}) EXPECT_EQ(WaitForAny(objects_, 0), expected);
  WaitingThread waiter([&] { return WaitForAny(objects_, kInfinite); });
  ASSERT_TRUE(waiter.Blocked());
  events_[1]->Set();
  EXPECT_EQ(waiter.Result(), 2u);
  EXPECT_EQ(WaitForOne(*events_[1], 0), kWaitTimeout);  // the wake consumed the auto reset

  std::vector<WaitObject*> tooMany(65, objects_[1]);
  EXPECT_EQ(WaitForAny(tooMany, 0), kWaitFailed);
  EXPECT_EQ(LastError(), kErrorInvalidParameter);
  WaitObject* missing[] = {objects_[1], nullptr};
  EXPECT_EQ(WaitForAny(missing, 0), kWaitFailed);
  EXPECT_EQ(LastError(), kErrorInvalidHandle);
}

TEST_F(SyncWaitTest, MessagesEndTheWaitOnlyWhenAskedKeepTheirOrderAndNeedAQueue) {
  MakeEvents(1);
  ThreadMessage received;
  WaitingThread receiver([&] {
    EnsureMessageQueue();
    uint32_t result = WaitForAny(objects_, kInfinite, true);
    PeekThreadMessage(received, true);
    return result;
  });
  ASSERT_TRUE(receiver.Blocked());
  ASSERT_TRUE(PostThreadMessage(receiver.ThreadId(), 0x433, 7, -9));
  EXPECT_EQ(receiver.Result(), 1u);
  EXPECT_EQ(std::make_tuple(received.message, received.wParam, received.lParam),
            std::make_tuple(0x433u, uintptr_t{7}, intptr_t{-9}));

  EnsureMessageQueue();
  uint32_t self = CurrentThreadId();
  ASSERT_TRUE(PostThreadMessage(self, kMessageUser, 0, 0));
  EXPECT_EQ(WaitForAny(objects_, 0, false), kWaitTimeout);
  EXPECT_EQ(WaitForAny(objects_, kInfinite, true), 1u);
  EXPECT_EQ(WaitForAny(objects_, 0, true), 1u);  // the wait leaves the message queued
  events_[0]->Set();
  EXPECT_EQ(WaitForAny(objects_, 0, true), 0u);
  ThreadMessage message;
  ASSERT_TRUE(PeekThreadMessage(message, true));
  EXPECT_EQ(WaitForAny(objects_, 0, true), kWaitTimeout);

  ASSERT_TRUE(PostThreadMessage(self, kMessageUser + 1, 1, 0));
  ASSERT_TRUE(PostThreadMessage(self, kMessageQuit, 0, 0));
  ASSERT_TRUE(PeekThreadMessage(message, false));  // peeking leaves it queued
  EXPECT_TRUE(GetThreadMessage(message));
  EXPECT_EQ(message.message, kMessageUser + 1);
  EXPECT_FALSE(GetThreadMessage(message));  // the quit message
  EXPECT_FALSE(PeekThreadMessage(message, false));

  WaitingThread withoutQueue([&] { return WaitForOne(*events_[0], kInfinite); });
  WaitingThread ended([] {
    EnsureMessageQueue();
    return 0u;
  });
  ended.Result();
  for (uint32_t thread : {withoutQueue.ThreadId(), ended.ThreadId()}) {
    EXPECT_FALSE(PostThreadMessage(thread, kMessageUser, 0, 0));
    EXPECT_EQ(LastError(), kErrorInvalidThreadId);
  }
  events_[0]->Set();
}

TEST_F(SyncWaitTest, TimedWaitsAndSleepsEndExactlyAtTheirDeadlineOnTheDrivenClock) {
  DrivenClock clock;
  InstallClock(&clock);
  MakeEvents(1);
  WaitingThread notYet([&] { return WaitForOne(*events_[0], 5000); });
  ASSERT_TRUE(notYet.Blocked());
  clock.Advance(4999);
  events_[0]->Set();  // had the wait ended early, it would have reported 258
  EXPECT_EQ(notYet.Result(), 0u);

  WaitingThread timedOut([&] { return WaitForOne(*events_[0], 5000); });
  ASSERT_TRUE(timedOut.Blocked());
  clock.Advance(2000);
  clock.Advance(3000);
  EXPECT_EQ(timedOut.Result(), kWaitTimeout);

  constexpr uint32_t kHourMs = 3600 * 1000;
  const uint32_t start = TickCount();
  WaitingThread sleeper([] {
    SleepMs(kHourMs);
    return TickCount();
  });
  ASSERT_TRUE(sleeper.Blocked());
  clock.Advance(kHourMs);
  EXPECT_EQ(sleeper.Result(), start + kHourMs);
}

TEST_F(SyncWaitTest, MutexOfAnEndedThreadIsTakenAbandonedByALaterOrABlockedWaiter) {
  MakeEvents(1);
  auto mutex = Mutex::Create("left", false);
  WaitingThread owner([&] { return WaitForOne(*mutex, kInfinite); });
  ASSERT_EQ(owner.Result(), 0u);
  objects_.push_back(mutex.get());
  EXPECT_EQ(WaitForAny(objects_, 0), kWaitAbandoned0 + 1);
  EXPECT_EQ(WaitForOne(*mutex, 0), kWaitObject0);  // now owned normally, twice
  EXPECT_TRUE(mutex->Release());
  EXPECT_TRUE(mutex->Release());
  EXPECT_FALSE(mutex->Release());

  WaitingThread holder([&] {
    WaitForOne(*mutex, kInfinite);
    return WaitForOne(*events_[0], kInfinite);
  });
  ASSERT_TRUE(holder.Blocked());  // owns the mutex, waits for the event
  WaitingThread waiter([&] { return WaitForOne(*mutex, kInfinite); });
  ASSERT_TRUE(waiter.Blocked());
  events_[0]->Set();
  holder.Result();
  EXPECT_EQ(waiter.Result(), kWaitAbandoned0);
}

// The forked child gets its own message queue and inotify descriptor.
TEST_F(SyncWaitTest, ForkedChildWaitsWithItsOwnQueue) {
  EnsureMessageQueue();
  MakeEvents(1);
  EXPECT_EQ(WaitForAny(objects_, 0, true), kWaitTimeout);  // makes this thread's inotify
  pid_t child = fork();
  if (child == 0) {
    ThreadMessage message;
    bool ok = PostThreadMessage(CurrentThreadId(), kMessageUser, 0, 0) &&
              WaitForAny({}, kInfinite, true) == 0 && PeekThreadMessage(message, true) &&
              WaitForOne(*events_[0], kInfinite) == 0;
    _exit(ok ? 0 : 1);
  }
  ASSERT_GT(child, 0);
  ASSERT_TRUE(platform::testing::WaitUntilBlockedInPoll(child, child));
  ThreadMessage message;
  EXPECT_FALSE(PeekThreadMessage(message, false));
  events_[0]->Set();
  int status = -1;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(SyncErrors, EveryMappedErrnoHasATextAndTheLastErrorBelongsToEachThread) {
  std::string text;
  for (int value = 0; value < 200; ++value) {  // so that log lines can always name the error
    EXPECT_TRUE(SystemErrorMessage(ErrorFromErrno(value), text)) << "errno " << value;
  }
  EXPECT_EQ(ErrorFromErrno(12345), kErrorGenFailure);
  text = "unchanged";
  EXPECT_FALSE(SystemErrorMessage(99999, text));
  EXPECT_EQ(text, "unchanged");
  errno = ENOENT;
  EXPECT_EQ(SetLastErrorFromErrno(), kErrorFileNotFound);
  uint32_t seenByOther = 99;
  std::thread([&] {
    seenByOther = LastError();
    SetLastError(kErrorWaitTimeout);
  }).join();
  EXPECT_EQ(seenByOther, kErrorSuccess);
  EXPECT_EQ(LastError(), kErrorFileNotFound);
}

TEST(SyncClock, TheSystemClockIsRealAndTheDrivenOneMovesOnlyWhenToldAndAnnouncesIt) {
  EXPECT_GT(CurrentClock().FileTimeNow(), 132223104000000000ULL);  // after 2020-01-01
  EXPECT_EQ(CurrentClock().ChangeDescriptor(), -1);
  {
    DrivenClock clock(1000000);
    InstallClock(&clock);
    int descriptor = clock.ChangeDescriptor();
    ASSERT_GE(descriptor, 0);
    EXPECT_EQ(clock.ChangeDescriptor(), descriptor);  // one per thread
    uint64_t count = 0;
    EXPECT_EQ(read(descriptor, &count, sizeof count), -1);  // nothing yet
    clock.Advance(1500);
    EXPECT_EQ(read(descriptor, &count, sizeof count), static_cast<ssize_t>(sizeof count));
    EXPECT_EQ(clock.FileTimeNow(), 1000000u + 1500u * 10000u);
    clock.SetFileTime(5000000);
    clock.Advance(1);
    EXPECT_EQ(std::make_pair(clock.FileTimeNow(), clock.MonotonicMs()),
              std::make_pair(uint64_t{5010000}, uint64_t{1501}));
    clock.Advance(0x100000000ULL);
    EXPECT_EQ(TickCount(), 1501u);  // ticks wrap at 32 bits
    int otherThreads = -1;
    std::thread([&] { otherThreads = clock.ChangeDescriptor(); }).join();
    EXPECT_NE(otherThreads, descriptor);
  }  // destroying the installed clock restores the system clock
  EXPECT_EQ(CurrentClock().ChangeDescriptor(), -1);
}

}  // namespace
