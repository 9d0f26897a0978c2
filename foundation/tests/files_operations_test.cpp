// The foundation's file operations: attributes cleared, deferral to the next restart, copies
// that fail quietly or loudly, directory trees made and removed.
#include <filesystem>

#include "files_test_support.h"
#include "foundation/files/file_operations.h"
#include "foundation/log/error_store.h"
#include "platform/locations.h"
#include "trace_capture.h"

namespace fs = std::filesystem;

namespace {

void MakeReadOnly(const std::string& path) {
  fs::permissions(path, fs::perms::owner_write, fs::perm_options::remove);
}

}  // namespace

TEST_F(FilesTest, SettersReturnThePreviousValue) {
  EXPECT_FALSE(SetDeleteDeferral(true));
  EXPECT_TRUE(SetDeleteDeferral(false));
  EXPECT_FALSE(SetReplaceDeferral(true));
  EXPECT_TRUE(SetReplaceDeferral(false));
  EXPECT_TRUE(SetDeferralMaster(false));
  EXPECT_FALSE(SetDeferralMaster(true));
}

TEST_F(FilesTest, DeletingAReadOnlyFileClearsItsAttributeFirst) {
  const std::string file = At("locked.txt");
  Write(file, "x");
  MakeReadOnly(file);
  const size_t errors = ErrorCount();
  EXPECT_TRUE(DeleteFileEx(file));
  EXPECT_FALSE(Exists(file));
  EXPECT_EQ(ErrorCount(), errors);
}

// A directory cannot be deleted as a file: the deletion fails now, whoever runs the test.
TEST_F(FilesTest, AFailedDeleteIsRecordedOrDeferredByTheSwitch) {
  const std::string busy = At("busy");
  fs::create_directories(busy);

  const size_t errors = ErrorCount();
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
  SetDeferralMaster(true);
}

TEST_F(FilesTest, CopyingAFileOntoItselfLeavesItUntouched) {
  const std::string file = At("same.txt");
  Write(file, "content");
  const auto before = fs::last_write_time(file);
  EXPECT_TRUE(CopyFileEx(file, file, 0));
  EXPECT_EQ(Read(file), "content");
  EXPECT_EQ(fs::last_write_time(file), before);
}

TEST_F(FilesTest, AMissingSourceFailsQuietlyOnlyWhenAllowed) {
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
}

TEST_F(FilesTest, CopyReplacesOrRefusesAnExistingTarget) {
  const std::string source = At("source.txt");
  const std::string target = At("target.txt");
  Write(source, "new");
  Write(target, "old");
  EXPECT_FALSE(CopyFileEx(source, target, kCopyFailIfExists));
  EXPECT_EQ(Read(target), "old");
  MakeReadOnly(target);
  EXPECT_TRUE(CopyFileEx(source, target, 0));
  EXPECT_EQ(Read(target), "new");
  EXPECT_EQ(Read(source), "new");
}

TEST_F(FilesTest, ReplaceAtRestartMovesAtOnceWhenItCan) {
  const std::string source = At("fresh.bin");
  const std::string target = At("sub/installed.bin");
  Write(source, "fresh");
  Write(target, "stale");
  EXPECT_TRUE(ReplaceAtRestart(source, target));
  EXPECT_EQ(Read(target), "fresh");
  EXPECT_FALSE(Exists(source));
  EXPECT_FALSE(RestartPending());
}

TEST_F(FilesTest, ReplacingADirectoryIsDeferredThroughACopyBesideIt) {
  const std::string source = At("fresh.bin");
  const std::string target = At("occupied");
  Write(source, "fresh");
  Write(target + "/inside.txt", "keeps the directory busy");
  EXPECT_TRUE(ReplaceAtRestart(source, target));
  EXPECT_TRUE(RestartPending());
  const std::string list = PendingList();
  ASSERT_EQ(list.rfind("replace\t" + At("_tu"), 0), 0u) << list;
  const std::string temp = list.substr(8, list.find('\t', 8) - 8);
  EXPECT_EQ(Read(temp), "fresh");
}

TEST_F(FilesTest, CreateDirectoryPathMakesEveryMissingParent) {
  EXPECT_TRUE(CreateDirectoryPath(At("a/b/c/")));
  EXPECT_TRUE(fs::is_directory(At("a/b/c")));
  EXPECT_TRUE(CreateDirectoryPath(At("a/b")));  // already there

  Write(At("plain"), "file");
  EXPECT_FALSE(CreateDirectoryPath(At("plain")));
  EXPECT_FALSE(CreateDirectoryPath(At("plain/below")));
  EXPECT_FALSE(Exists(At("plain/below")));
}

TEST_F(FilesTest, RemoveDirectoryTreeDeletesFilesOnlyWhenAsked) {
  Write(At("tree/one.txt"), "1");
  Write(At("tree/deep/two.txt"), "2");
  MakeReadOnly(At("tree/deep/two.txt"));

  EXPECT_FALSE(RemoveDirectoryTree(At("tree"), false, false));
  EXPECT_TRUE(Exists(At("tree/one.txt")));

  EXPECT_TRUE(RemoveDirectoryTree(At("tree"), true, true));
  EXPECT_FALSE(Exists(At("tree")));
  EXPECT_FALSE(RemoveDirectoryTree(At("tree"), true, true));
}

TEST_F(FilesTest, RemoveEmptyDirectoriesStopsAtAFilledParentAndAtTheBase) {
  fs::create_directories(At("base/kept/empty/emptier"));
  Write(At("base/kept/file.txt"), "holds kept");
  EXPECT_TRUE(RemoveEmptyDirectories(At("base/kept/empty/emptier"), At("base")));
  EXPECT_FALSE(Exists(At("base/kept/empty")));
  EXPECT_TRUE(Exists(At("base/kept/file.txt")));

  fs::create_directories(At("base/only"));
  EXPECT_TRUE(RemoveEmptyDirectories(At("base/only"), At("base")));
  EXPECT_FALSE(Exists(At("base/only")));
  EXPECT_TRUE(Exists(At("base")));
}

TEST_F(FilesTest, ADeepestDirectoryThatCannotGoIsTracedAndLeftAlone) {
  TraceCapture trace;
  Write(At("base/full/file.txt"), "x");
  EXPECT_TRUE(RemoveEmptyDirectories(At("base/full"), At("base")));
  EXPECT_TRUE(Exists(At("base/full/file.txt")));
  EXPECT_NE(trace.Text().find("RemoveDir: " + At("base/full") + " 145"), std::string::npos);
  EXPECT_EQ(PendingList(), "");  // not empty is no reason to wait for a restart
}
