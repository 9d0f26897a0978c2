// The foundation's file operations: deferral to the next restart by the calling thread's
// switches and the pending-operations list, what lack of rights hands to the repair service,
// copies that fail quietly or loudly, directory trees made and removed.
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <semaphore>
#include <thread>

#include "build_tree_files.h"
#include "files_test_support.h"
#include "foundation/context/context_store.h"
#include "foundation/files/file_operations.h"
#include "foundation/log/error_store.h"
#include "platform/errors.h"
#include "platform/pending_operations.h"
#include "trace_capture.h"

namespace fs = std::filesystem;

namespace {

uint32_t LastRecordedCode() {
  HxErr record;
  return LastErrorRecord(record) ? record.Code() : 0;
}

}  // namespace

TEST_F(FilesTest, AFailedDeleteIsRecordedOrDeferredByTheSwitchesOfItsOwnThread) {
  // A directory cannot be deleted as a file: the deletion fails now, whoever runs the test.
  const std::string busy = At("busy");
  fs::create_directories(busy);
  const size_t errors = ErrorCount();
  EXPECT_FALSE(DeleteFileEx(busy));
  EXPECT_EQ(ErrorCount(), errors + 1);
  EXPECT_EQ(PendingList(), "");
  EXPECT_FALSE(RestartPending());

  // Two contexts that switch deletion deferral on around a step, interleaved, leave it off.
  std::binary_semaphore toOther(0), toMine(0);
  std::thread other([&] {
    toOther.acquire();
    const bool previous = SetDeleteDeferral(true);
    toMine.release();
    toOther.acquire();
    SetDeleteDeferral(previous);
    toMine.release();
  });
  const bool previous = SetDeleteDeferral(true);
  toOther.release();
  toMine.acquire();
  SetDeleteDeferral(previous);
  toOther.release();
  toMine.acquire();
  other.join();
  EXPECT_FALSE(DeleteDeferral());
  EXPECT_FALSE(DeleteFileEx(busy));

  SetDeleteDeferral(true);
  EXPECT_TRUE(DeleteFileEx(busy));
  EXPECT_EQ(PendingList(), "delete\t" + busy + "\n");
  EXPECT_TRUE(RestartPending());
  EXPECT_EQ(ErrorCount(), errors + 2);
  // Nothing there is nothing to schedule.
  EXPECT_FALSE(DeleteFileEx(At("never-there")));
  EXPECT_EQ(LastRecordedCode(), 2u);
  EXPECT_FALSE(DeleteAtRestart(At("never-there")));
  EXPECT_EQ(platform::LastError(), 2u);
  // The master switch overrules the deferral; the setters return the previous value.
  EXPECT_TRUE(SetDeferralMaster(false));
  EXPECT_FALSE(DeleteFileEx(busy));
  EXPECT_FALSE(SetDeferralMaster(true));
  EXPECT_FALSE(SetReplaceDeferral(true));
  EXPECT_EQ(PendingList(), "delete\t" + busy + "\n");
}

TEST_F(FilesTest, WhatLackOfRightsRefusesGoesToTheRepairService) {
  SetContextValue("ProviderId", "prov");
  Write(At("locked/file.txt"), "x");
  Write(At("source.txt"), "new");
  ASSERT_EQ(chmod(At("locked").c_str(), 0555), 0);
  struct Case {
    const char* name;
    std::function<bool()> operation;
    uint32_t operationCode;
    std::string first, second;
    bool resultWithService;  // the service's word is taken, but a directory must be there
    uint32_t recordedWithout;
  };
  const Case cases[] = {
      {"delete", [&] { return DeleteFileEx(At("locked/file.txt")); }, 1, At("locked/file.txt"), "",
       true, 5},
      {"copy", [&] { return CopyFileEx(At("source.txt"), At("locked/new.txt"), 0); }, 0,
       At("source.txt"), At("locked/new.txt"), true, 0x20000002},
      {"create", [&] { return CreateDirectoryPath(At("locked/sub")); }, 4, At("locked/sub"), "",
       false, 5},
  };
  for (const Case& c : cases) {
    for (const bool withService : {true, false}) {
      SCOPED_TRACE(std::string(c.name) + (withService ? " with a service" : " without one"));
      std::unique_ptr<FakeRepairService> service;
      if (withService) service = std::make_unique<FakeRepairService>(0);
      const bool result = withService && c.resultWithService;
      const uint32_t recorded = withService ? 0 : c.recordedWithout;
      EXPECT_EQ(RunWithoutPrivileges([&] {
                  const size_t before = ErrorCount();
                  if (c.operation() != result) return 1;
                  return (ErrorCount() > before ? LastRecordedCode() : 0) == recorded ? 0 : 2;
                }),
                0);
      if (!service) continue;
      const std::vector<uint8_t>& request = service->Received();
      ASSERT_EQ(request.size(), 796u);
      EXPECT_EQ(WordAt(request, 0), c.operationCode);
      EXPECT_EQ(TextAt(request, 8 + 4), c.first);
      EXPECT_EQ(TextAt(request, 8 + 265), c.second);
    }
  }
  EXPECT_TRUE(Exists(At("locked/file.txt")));
  EXPECT_FALSE(Exists(At("locked/new.txt")));
  ClearContextStore();
}

TEST_F(FilesTest, CopyFailsQuietlyForAMissingSourceOnlyWhenAllowedAndNeverTouchesItself) {
  TraceCapture trace;
  const std::string missing = At("missing.txt");
  const std::string target = At("target.txt");
  const size_t errors = ErrorCount();
  EXPECT_FALSE(CopyFileEx(missing, target, kCopyMissingSourceOk));
  EXPECT_EQ(ErrorCount(), errors);
  EXPECT_EQ(trace.Text().find("copying"), std::string::npos);
  EXPECT_FALSE(CopyFileEx(missing, target, 0));
  EXPECT_EQ(LastRecordedCode(), 0x20000002u);
  EXPECT_NE(trace.Text().find("Error [2] copying [" + missing + "] to [" + target + "]"),
            std::string::npos);
  EXPECT_FALSE(Exists(target));

  const std::string present = At("present.txt");
  Write(present, "new");
  Write(target, "old");
  EXPECT_FALSE(CopyFileEx(present, target, kCopyFailIfExists));
  EXPECT_EQ(Read(target), "old");
  EXPECT_TRUE(CopyFileEx(present, target, 0));
  EXPECT_EQ(Read(target), "new");
  const auto before = fs::last_write_time(present);
  EXPECT_TRUE(CopyFileEx(present, present, 0));
  EXPECT_EQ(fs::last_write_time(present), before);
}

TEST_F(FilesTest, ReplaceAtRestartMovesAtOnceWhenItCanElseDefersThroughACopyBesideIt) {
  const std::string source = At("fresh.bin");
  Write(source, "fresh");
  Write(At("sub/installed.bin"), "stale");
  EXPECT_TRUE(ReplaceAtRestart(source, At("sub/installed.bin")));
  EXPECT_EQ(Read(At("sub/installed.bin")), "fresh");
  EXPECT_FALSE(Exists(source));
  EXPECT_FALSE(RestartPending());

  Write(source, "fresh");  // a directory in the way defers the replacement
  Write(At("occupied/inside.txt"), "keeps the directory busy");
  EXPECT_TRUE(ReplaceAtRestart(source, At("occupied")));
  EXPECT_TRUE(RestartPending());
  const std::string list = PendingList();
  ASSERT_EQ(list.rfind("replace\t" + At("_tu"), 0), 0u) << list;
  EXPECT_EQ(Read(list.substr(8, list.find('\t', 8) - 8)), "fresh");
}

TEST_F(FilesTest, DirectoriesAreMadeWithTheirParentsAndRemovedWhenEmptyOrWhole) {
  EXPECT_TRUE(CreateDirectoryPath(At("a/b/c/")));
  EXPECT_TRUE(fs::is_directory(At("a/b/c")));
  EXPECT_TRUE(CreateDirectoryPath(At("a/b")));
  Write(At("plain"), "file");
  EXPECT_FALSE(CreateDirectoryPath(At("plain")));
  EXPECT_FALSE(CreateDirectoryPath(At("plain/below")));

  Write(At("tree/one.txt"), "1");
  Write(At("tree/deep/two.txt"), "2");
  EXPECT_FALSE(RemoveDirectoryTree(At("tree"), false, false));  // files only when asked
  EXPECT_TRUE(Exists(At("tree/one.txt")));
  EXPECT_TRUE(RemoveDirectoryTree(At("tree"), true, true));
  EXPECT_FALSE(Exists(At("tree")));
  EXPECT_FALSE(RemoveDirectoryTree(At("tree"), true, true));

  fs::create_directories(At("base/kept/empty/emptier"));
  Write(At("base/kept/file.txt"), "holds kept");
  EXPECT_TRUE(RemoveEmptyDirectories(At("base/kept/empty/emptier"), At("base")));
  EXPECT_FALSE(Exists(At("base/kept/empty")));
  EXPECT_TRUE(Exists(At("base/kept/file.txt")));
  fs::create_directories(At("base/only"));
  EXPECT_TRUE(RemoveEmptyDirectories(At("base/only"), At("base")));
  EXPECT_FALSE(Exists(At("base/only")));
  EXPECT_TRUE(Exists(At("base")));
  // A deepest directory that cannot go is traced and left alone; not empty is no reason to
  // wait for a restart.
  TraceCapture trace;
  EXPECT_TRUE(RemoveEmptyDirectories(At("base/kept"), At("base")));
  EXPECT_NE(trace.Text().find("RemoveDir: " + At("base/kept") + " 145"), std::string::npos);
  EXPECT_EQ(PendingList(), "");
}

TEST_F(FilesTest, PendingOperationsRunInOrderCountFailuresAndEmptyTheList) {
  Write(At("old.txt"), "old");
  Write(At("new.txt"), "new");
  Write(At("full/file.txt"), "x");
  fs::create_directories(At("empty"));
  ASSERT_TRUE(DeleteAtRestart(At("old.txt")));
  ASSERT_TRUE(platform::ScheduleReplaceAtRestart(At("new.txt"), At("old.txt")));
  ASSERT_TRUE(DeleteAtRestart(At("empty")));
  ASSERT_TRUE(DeleteAtRestart(At("full")));
  EXPECT_FALSE(platform::ScheduleDeleteAtRestart(At("two\nlines")));  // would break the list
  EXPECT_EQ(platform::LastError(), platform::kErrorInvalidName);

  platform::PendingOperationsOutcome outcome;
  ASSERT_TRUE(platform::RunPendingOperations(outcome));
  EXPECT_EQ(outcome.done, 3u);
  EXPECT_EQ(outcome.failed, 1u);
  EXPECT_EQ(Read(At("old.txt")), "new");
  EXPECT_FALSE(Exists(At("new.txt")));
  EXPECT_FALSE(Exists(At("empty")));
  EXPECT_EQ(PendingList(), "");

  Write(At("stale.txt"), "x");  // the service host carries the list out on request
  ASSERT_TRUE(DeleteAtRestart(At("stale.txt")));
  EXPECT_EQ(std::system((BuildPath("bin/noltsvc") + " --run-pending").c_str()), 0);
  EXPECT_FALSE(Exists(At("stale.txt")));
  EXPECT_EQ(PendingList(), "");
}
