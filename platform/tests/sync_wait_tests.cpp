// Waiting for any of several objects: list order, thread messages, the driven clock, abandoned
// mutexes, and a forked child's own wait state; error numbers and texts, the thread's last error,
// and the clocks.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <string>
#include <thread>
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

TEST_F(SyncWaitTest, WaitForAnyReportsTheLowestSignalledIndexAndFailsForTooManyOrMissingObjects) {
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

  auto event = Event::Create("", false, true);
  std::vector<WaitObject*> tooMany(65, event.get());
  EXPECT_EQ(WaitForAny(tooMany, 0), kWaitFailed);
  EXPECT_EQ(LastError(), kErrorInvalidParameter);
  WaitObject* missing[] = {event.get(), nullptr};
  EXPECT_EQ(WaitForAny(missing, 0), kWaitFailed);
  EXPECT_EQ(LastError(), kErrorInvalidHandle);
}

TEST_F(SyncWaitTest, BlockedWaitWakesForAnotherThreadsSignalOrWithIndexNForItsMessage) {
  auto events = MakeEvents(2, false);
  WaitingThread waiter([&] { return WaitForAny(Pointers(events), kInfinite); });
  ASSERT_TRUE(waiter.Blocked());
  events[1]->Set();
  EXPECT_EQ(waiter.Result(), 1u);
  EXPECT_EQ(WaitForOne(*events[1], 0), kWaitTimeout);  // the wake consumed the auto reset

  ThreadMessage received;
  WaitingThread receiver([&] {
    EnsureMessageQueue();
    uint32_t result = WaitForAny(Pointers(events), kInfinite, true);
    PeekThreadMessage(received, true);
    return result;
  });
  ASSERT_TRUE(receiver.Blocked());
  ASSERT_TRUE(PostThreadMessage(receiver.ThreadId(), 0x433, 7, -9));
  EXPECT_EQ(receiver.Result(), 2u);
  EXPECT_EQ(received.message, 0x433u);
  EXPECT_EQ(received.wParam, 7u);
  EXPECT_EQ(received.lParam, -9);
}

TEST_F(SyncWaitTest, QueuedMessagesEndTheWaitOnlyWhenAskedKeepTheirOrderAndNeedAQueue) {
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

  uint32_t self = CurrentThreadId();
  ASSERT_TRUE(PostThreadMessage(self, kMessageUser + 1, 1, 0));
  ASSERT_TRUE(PostThreadMessage(self, kMessageUser + 2, 2, 0));
  ASSERT_TRUE(PostThreadMessage(self, kMessageQuit, 0, 0));
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

TEST_F(SyncWaitTest, TimedWaitsAndSleepsEndExactlyAtTheirDeadlineOnTheDrivenClock) {
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

  // A waiter already blocked wakes abandoned when the owning thread ends.
  auto finish = Event::Create("finish", false, false);
  WaitingThread holder([&] {
    WaitForOne(*mutex, kInfinite);
    return WaitForOne(*finish, kInfinite);
  });
  ASSERT_TRUE(holder.Blocked());  // owns the mutex, waits for the finish
  WaitingThread waiter([&] { return WaitForOne(*mutex, kInfinite); });
  ASSERT_TRUE(waiter.Blocked());
  finish->Set();
  holder.Result();
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

TEST(SyncErrors, ErrnoMapsToTheWindowsNumbersAndSetsTheThreadsLastError) {
  const std::pair<int, uint32_t> table[] = {
      {0, kErrorSuccess},           {ENOENT, kErrorFileNotFound},     {ENOTDIR, kErrorPathNotFound},
      {EACCES, kErrorAccessDenied}, {EPERM, kErrorAccessDenied},      {EEXIST, kErrorFileExists},
      {ENOSPC, kErrorDiskFull},     {EOPNOTSUPP, kErrorNotSupported}, {12345, kErrorGenFailure}};
  for (const auto& [number, expected] : table)
    EXPECT_EQ(ErrorFromErrno(number), expected) << number;
  errno = ENOENT;
  EXPECT_EQ(SetLastErrorFromErrno(), kErrorFileNotFound);
  EXPECT_EQ(LastError(), kErrorFileNotFound);
}

TEST(SyncErrors, LastErrorBelongsToEachThread) {
  SetLastError(kErrorAccessDenied);
  uint32_t seenByOther = 99;
  std::thread other([&] {
    seenByOther = LastError();
    SetLastError(kErrorWaitTimeout);
  });
  other.join();
  EXPECT_EQ(seenByOther, kErrorSuccess);
  EXPECT_EQ(LastError(), kErrorAccessDenied);
}

TEST(SyncErrors, MessagesAreTheSystemTexts) {
  const std::pair<uint32_t, const char*> table[] = {
      {2, "The system cannot find the file specified.\r\n"},
      {5, "Access is denied.\r\n"},
      {183, "Cannot create a file when that file already exists.\r\n"},
      {258, "The wait operation timed out.\r\n"},
      {288, "Attempt to release mutex not owned by caller.\r\n"},
      {298, "Too many posts were made to a semaphore.\r\n"},
      {1444, "Invalid thread identifier.\r\n"}};
  std::string text;
  for (const auto& [number, expected] : table) {
    ASSERT_TRUE(SystemErrorMessage(number, text)) << number;
    EXPECT_EQ(text, expected);
  }
  text = "unchanged";
  EXPECT_FALSE(SystemErrorMessage(99999, text));
  EXPECT_EQ(text, "unchanged");
  // Every number the errno table produces has a text, so that log lines can always name it.
  for (int value = 0; value < 200; ++value) {
    EXPECT_TRUE(SystemErrorMessage(ErrorFromErrno(value), text)) << "errno " << value;
  }
}

class SyncClockTest : public ::testing::Test {
 protected:
  void TearDown() override { InstallClock(nullptr); }
};

TEST_F(SyncClockTest, SystemClockReadsTheRealTimeAndReturnsWhenTheDrivenOneGoes) {
  for (int round = 0; round < 2; ++round) {
    // 2020-01-01 as a file time; any real clock is later.
    EXPECT_GT(CurrentClock().FileTimeNow(), 132223104000000000ULL);
    uint64_t first = CurrentClock().MonotonicMs();
    EXPECT_GE(CurrentClock().MonotonicMs(), first);
    EXPECT_EQ(CurrentClock().ChangeDescriptor(), -1);
    DrivenClock clock;
    InstallClock(&clock);
  }  // destroying the installed clock restores the system clock
}

TEST_F(SyncClockTest, DrivenClockMovesOnlyWhenAdvancedAndTicksWrapAt32Bits) {
  DrivenClock clock(1000000);
  InstallClock(&clock);
  EXPECT_EQ(&CurrentClock(), &clock);
  EXPECT_EQ(TickCount(), 0u);
  EXPECT_EQ(clock.FileTimeNow(), 1000000u);
  clock.Advance(1500);
  EXPECT_EQ(TickCount(), 1500u);
  EXPECT_EQ(clock.FileTimeNow(), 1000000u + 1500u * 10000u);
  clock.SetFileTime(5000000);
  EXPECT_EQ(clock.FileTimeNow(), 5000000u);
  EXPECT_EQ(clock.MonotonicMs(), 1500u);
  clock.Advance(1);
  EXPECT_EQ(clock.FileTimeNow(), 5010000u);
  clock.Advance(0x100000000ULL);
  EXPECT_EQ(TickCount(), 1501u);
}

TEST_F(SyncClockTest, ChangeDescriptorBecomesReadableWhenTimeMoves) {
  DrivenClock clock;
  int descriptor = clock.ChangeDescriptor();
  ASSERT_GE(descriptor, 0);
  EXPECT_EQ(clock.ChangeDescriptor(), descriptor);  // one per thread
  uint64_t count = 0;
  EXPECT_EQ(read(descriptor, &count, sizeof count), -1);  // nothing yet
  clock.Advance(10);
  EXPECT_EQ(read(descriptor, &count, sizeof count), static_cast<ssize_t>(sizeof count));
  int otherThreads = -1;
  std::thread other([&] { otherThreads = clock.ChangeDescriptor(); });
  other.join();
  EXPECT_NE(otherThreads, descriptor);
}

}  // namespace
