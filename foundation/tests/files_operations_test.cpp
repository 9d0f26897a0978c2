// The foundation's file operations: attributes cleared, deferral to the next restart and the
// pending-operations list, copies that fail quietly or loudly, directory trees made and removed.
#include <cstdlib>
#include <filesystem>

#include "build_tree_files.h"
#include "files_test_support.h"
#include "foundation/files/file_operations.h"
#include "foundation/log/error_store.h"
#include "platform/errors.h"
#include "platform/locations.h"
#include "platform/pending_operations.h"
#include "trace_capture.h"

namespace fs = std::filesystem;

namespace {

void MakeReadOnly(const std::string& path) {
  fs::permissions(path, fs::perms::owner_write, fs::perm_options::remove);
}

}  // namespace

TEST_F(FilesTest, DeleteClearsAReadOnlyAttributeAndAFailureIsRecordedOrDeferredByTheSwitches) {
  const std::string file = At("locked.txt");
  Write(file, "x");
  MakeReadOnly(file);
  const size_t errors = ErrorCount();
  EXPECT_TRUE(DeleteFileEx(file));
  EXPECT_FALSE(Exists(file));
  EXPECT_EQ(ErrorCount(), errors);

  // A directory cannot be deleted as a file: the deletion fails now, whoever runs the test.
  const std::string busy = At("busy");
  fs::create_directories(busy);
  EXPECT_FALSE(DeleteFileEx(busy));
  ASSERT_EQ(ErrorCount(), errors + 1);
  EXPECT_EQ(PendingList(), "");
  EXPECT_FALSE(RestartPending());

  SetDeleteDeferral(true);
  EXPECT_TRUE(DeleteFileEx(busy));
  EXPECT_EQ(PendingList(), "delete\t" + busy + "\n");
  EXPECT_TRUE(RestartPending());
  EXPECT_EQ(ErrorCount(), errors + 1);

  // The master switch overrules the deferral.
  SetDeferralMaster(false);
  EXPECT_FALSE(DeleteFileEx(busy));
  // The setters return the previous value.
  EXPECT_FALSE(SetDeferralMaster(true));
  EXPECT_TRUE(SetDeleteDeferral(false));
  EXPECT_FALSE(SetReplaceDeferral(true));
}

TEST_F(FilesTest, CopyFailsQuietlyForAMissingSourceOnlyWhenAllowedAndReplacesOrRefusesATarget) {
  TraceCapture trace;
  const std::string missing = At("missing.txt");
  const std::string target = At("target.txt");
  const size_t errors = ErrorCount();
  EXPECT_FALSE(CopyFileEx(missing, target, kCopyMissingSourceOk));
  EXPECT_EQ(ErrorCount(), errors);
  EXPECT_EQ(trace.Text().find("copying"), std::string::npos);

  EXPECT_FALSE(CopyFileEx(missing, target, 0));
  ASSERT_EQ(ErrorCount(), errors + 1);
  HxErr record;
  ASSERT_TRUE(LastErrorRecord(record));
  EXPECT_EQ(record.Code(), 0x20000002u);
  EXPECT_NE(trace.Text().find("Error [2] copying [" + missing + "] to [" + target + "]"),
            std::string::npos);
  EXPECT_FALSE(Exists(target));

  // A present source replaces or refuses an existing target, and leaves itself alone.
  const std::string present = At("present.txt");
  const std::string existing = At("existing.txt");
  Write(present, "new");
  Write(existing, "old");
  EXPECT_FALSE(CopyFileEx(present, existing, kCopyFailIfExists));
  EXPECT_EQ(Read(existing), "old");
  MakeReadOnly(existing);
  EXPECT_TRUE(CopyFileEx(present, existing, 0));
  EXPECT_EQ(Read(existing), "new");
  EXPECT_EQ(Read(present), "new");
  // Onto itself: untouched.
  const auto before = fs::last_write_time(present);
  EXPECT_TRUE(CopyFileEx(present, present, 0));
  EXPECT_EQ(Read(present), "new");
  EXPECT_EQ(fs::last_write_time(present), before);
}

TEST_F(FilesTest, ReplaceAtRestartMovesAtOnceWhenItCanElseDefersThroughACopyBesideIt) {
  const std::string source = At("fresh.bin");
  const std::string target = At("sub/installed.bin");
  Write(source, "fresh");
  Write(target, "stale");
  EXPECT_TRUE(ReplaceAtRestart(source, target));
  EXPECT_EQ(Read(target), "fresh");
  EXPECT_FALSE(Exists(source));
  EXPECT_FALSE(RestartPending());

  // Replacing a directory is deferred through a copy beside it.
  const std::string occupied = At("occupied");
  Write(source, "fresh");
  Write(occupied + "/inside.txt", "keeps the directory busy");
  EXPECT_TRUE(ReplaceAtRestart(source, occupied));
  EXPECT_TRUE(RestartPending());
  const std::string list = PendingList();
  ASSERT_EQ(list.rfind("replace\t" + At("_tu"), 0), 0u) << list;
  const std::string temp = list.substr(8, list.find('\t', 8) - 8);
  EXPECT_EQ(Read(temp), "fresh");
}

TEST_F(FilesTest, CreateDirectoryPathMakesEveryMissingParentAndRemoveDirectoryTreeUndoesIt) {
  EXPECT_TRUE(CreateDirectoryPath(At("a/b/c/")));
  EXPECT_TRUE(fs::is_directory(At("a/b/c")));
  EXPECT_TRUE(CreateDirectoryPath(At("a/b")));  // already there

  Write(At("plain"), "file");
  EXPECT_FALSE(CreateDirectoryPath(At("plain")));
  EXPECT_FALSE(CreateDirectoryPath(At("plain/below")));
  EXPECT_FALSE(Exists(At("plain/below")));

  // RemoveDirectoryTree deletes files only when asked.
  Write(At("tree/one.txt"), "1");
  Write(At("tree/deep/two.txt"), "2");
  MakeReadOnly(At("tree/deep/two.txt"));

  EXPECT_FALSE(RemoveDirectoryTree(At("tree"), false, false));
  EXPECT_TRUE(Exists(At("tree/one.txt")));

  EXPECT_TRUE(RemoveDirectoryTree(At("tree"), true, true));
  EXPECT_FALSE(Exists(At("tree")));
  EXPECT_FALSE(RemoveDirectoryTree(At("tree"), true, true));
}

TEST_F(FilesTest, RemoveEmptyDirectoriesStopsAtAFilledParentAndAtTheBaseAndTracesWhatStays) {
  fs::create_directories(At("base/kept/empty/emptier"));
  Write(At("base/kept/file.txt"), "holds kept");
  EXPECT_TRUE(RemoveEmptyDirectories(At("base/kept/empty/emptier"), At("base")));
  EXPECT_FALSE(Exists(At("base/kept/empty")));
  EXPECT_TRUE(Exists(At("base/kept/file.txt")));

  fs::create_directories(At("base/only"));
  EXPECT_TRUE(RemoveEmptyDirectories(At("base/only"), At("base")));
  EXPECT_FALSE(Exists(At("base/only")));
  EXPECT_TRUE(Exists(At("base")));

  // A deepest directory that cannot go is traced and left alone.
  TraceCapture trace;
  Write(At("base/full/file.txt"), "x");
  EXPECT_TRUE(RemoveEmptyDirectories(At("base/full"), At("base")));
  EXPECT_TRUE(Exists(At("base/full/file.txt")));
  EXPECT_NE(trace.Text().find("RemoveDir: " + At("base/full") + " 145"), std::string::npos);
  EXPECT_EQ(PendingList(), "");  // not empty is no reason to wait for a restart
}

// The pending-operations list: what deferral writes, and how the service host carries it out.
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
