// Error numbers and texts, the thread's last error, and the clocks.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <thread>

#include "platform/clock.h"
#include "platform/errors.h"

namespace {

using namespace platform;

TEST(SyncErrors, ErrnoMapsToTheWindowsNumbers) {
  EXPECT_EQ(ErrorFromErrno(0), kErrorSuccess);
  EXPECT_EQ(ErrorFromErrno(ENOENT), kErrorFileNotFound);
  EXPECT_EQ(ErrorFromErrno(ENOTDIR), kErrorPathNotFound);
  EXPECT_EQ(ErrorFromErrno(EACCES), kErrorAccessDenied);
  EXPECT_EQ(ErrorFromErrno(EPERM), kErrorAccessDenied);
  EXPECT_EQ(ErrorFromErrno(EEXIST), kErrorFileExists);
  EXPECT_EQ(ErrorFromErrno(ENOSPC), kErrorDiskFull);
  EXPECT_EQ(ErrorFromErrno(EOPNOTSUPP), kErrorNotSupported);
  EXPECT_EQ(ErrorFromErrno(12345), kErrorGenFailure);
}

TEST(SyncErrors, SetLastErrorFromErrnoReadsErrno) {
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
  std::string text;
  ASSERT_TRUE(SystemErrorMessage(2, text));
  EXPECT_EQ(text, "The system cannot find the file specified.\r\n");
  ASSERT_TRUE(SystemErrorMessage(5, text));
  EXPECT_EQ(text, "Access is denied.\r\n");
  ASSERT_TRUE(SystemErrorMessage(183, text));
  EXPECT_EQ(text, "Cannot create a file when that file already exists.\r\n");
  ASSERT_TRUE(SystemErrorMessage(258, text));
  EXPECT_EQ(text, "The wait operation timed out.\r\n");
  ASSERT_TRUE(SystemErrorMessage(288, text));
  EXPECT_EQ(text, "Attempt to release mutex not owned by caller.\r\n");
  ASSERT_TRUE(SystemErrorMessage(298, text));
  EXPECT_EQ(text, "Too many posts were made to a semaphore.\r\n");
  ASSERT_TRUE(SystemErrorMessage(1444, text));
  EXPECT_EQ(text, "Invalid thread identifier.\r\n");
}

TEST(SyncErrors, UnknownNumbersHaveNoText) {
  std::string text = "unchanged";
  EXPECT_FALSE(SystemErrorMessage(99999, text));
  EXPECT_EQ(text, "unchanged");
}

// Every number the errno table produces has a text, so that log lines can always name it.
TEST(SyncErrors, EveryMappedNumberHasAText) {
  for (int value = 0; value < 200; ++value) {
    std::string text;
    EXPECT_TRUE(SystemErrorMessage(ErrorFromErrno(value), text)) << "errno " << value;
  }
}

class SyncClockTest : public ::testing::Test {
 protected:
  void TearDown() override { InstallClock(nullptr); }
};

TEST_F(SyncClockTest, SystemClockReadsTheRealTime) {
  // 2020-01-01 as a file time; any real clock is later.
  EXPECT_GT(CurrentClock().FileTimeNow(), 132223104000000000ULL);
  uint64_t first = CurrentClock().MonotonicMs();
  EXPECT_GE(CurrentClock().MonotonicMs(), first);
  EXPECT_EQ(CurrentClock().ChangeDescriptor(), -1);
}

TEST_F(SyncClockTest, DrivenClockMovesOnlyWhenAdvanced) {
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
}

TEST_F(SyncClockTest, TickCountWrapsAt32Bits) {
  DrivenClock clock;
  InstallClock(&clock);
  clock.Advance(0x100000005ULL);
  EXPECT_EQ(TickCount(), 5u);
}

TEST_F(SyncClockTest, DestroyingTheInstalledClockRestoresTheSystemClock) {
  {
    DrivenClock clock;
    InstallClock(&clock);
  }
  EXPECT_EQ(CurrentClock().ChangeDescriptor(), -1);
  EXPECT_GT(CurrentClock().FileTimeNow(), 132223104000000000ULL);
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
