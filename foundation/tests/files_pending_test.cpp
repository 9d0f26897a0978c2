// The pending-operations list: what deferral writes, and how the service host carries it out.
#include <cstdlib>
#include <filesystem>

#include "build_tree_files.h"
#include "files_test_support.h"
#include "foundation/files/file_operations.h"
#include "platform/errors.h"
#include "platform/pending_operations.h"

namespace fs = std::filesystem;

TEST_F(FilesTest, PendingOperationsRunInOrderAndEmptyTheList) {
  Write(At("old.txt"), "old");
  Write(At("new.txt"), "new");
  fs::create_directories(At("empty"));
  ASSERT_TRUE(DeleteAtRestart(At("old.txt")));
  ASSERT_TRUE(platform::ScheduleReplaceAtRestart(At("new.txt"), At("old.txt")));
  ASSERT_TRUE(DeleteAtRestart(At("empty")));
  ASSERT_TRUE(DeleteAtRestart(At("never-there")));  // already gone counts as done

  platform::PendingOperationsOutcome outcome;
  ASSERT_TRUE(platform::RunPendingOperations(outcome));
  EXPECT_EQ(outcome.done, 4u);
  EXPECT_EQ(outcome.failed, 0u);
  EXPECT_EQ(Read(At("old.txt")), "new");
  EXPECT_FALSE(Exists(At("new.txt")));
  EXPECT_FALSE(Exists(At("empty")));
  EXPECT_EQ(PendingList(), "");

  ASSERT_TRUE(platform::RunPendingOperations(outcome));  // nothing left
  EXPECT_EQ(outcome.done + outcome.failed, 0u);
}

TEST_F(FilesTest, APathThatWouldBreakTheListIsRefused) {
  EXPECT_FALSE(platform::ScheduleDeleteAtRestart(At("two\nlines")));
  EXPECT_EQ(platform::LastError(), platform::kErrorInvalidName);
  EXPECT_FALSE(platform::ScheduleReplaceAtRestart(At("a\tb"), At("c")));
  EXPECT_EQ(PendingList(), "");
}

TEST_F(FilesTest, AFailingOperationIsCountedAndTheRestStillRuns) {
  Write(At("full/file.txt"), "x");
  Write(At("gone.txt"), "x");
  ASSERT_TRUE(DeleteAtRestart(At("full")));
  ASSERT_TRUE(DeleteAtRestart(At("gone.txt")));
  platform::PendingOperationsOutcome outcome;
  ASSERT_TRUE(platform::RunPendingOperations(outcome));
  EXPECT_EQ(outcome.done, 1u);
  EXPECT_EQ(outcome.failed, 1u);
  EXPECT_FALSE(Exists(At("gone.txt")));
  EXPECT_EQ(PendingList(), "");
}

TEST_F(FilesTest, TheServiceHostCarriesOutTheListOnRequest) {
  Write(At("stale.txt"), "x");
  ASSERT_TRUE(DeleteAtRestart(At("stale.txt")));
  const std::string command = BuildPath("bin/noltsvc") + " --run-pending";
  EXPECT_EQ(std::system(command.c_str()), 0);
  EXPECT_FALSE(Exists(At("stale.txt")));
  EXPECT_EQ(PendingList(), "");
}
