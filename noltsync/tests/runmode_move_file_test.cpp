// The engine's guarded file move: the copy-and-delete fallback, the logged error of a failed
// move, and the upload lock held for writing by another process.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>

#include "build_tree_files.h"
#include "engine_test_fixture.h"
#include "locks_peer_process.h"
#include "noltsync/engine/nolt_sync_base.h"
#include "noltsync/engine/sync_locks.h"
#include "platform/clock.h"
#include "platform/sandbox.h"

namespace {

namespace fs = std::filesystem;
using locks_testing::kFailureGuardMs;

constexpr uint32_t kUploadLockTimeoutMs = 10000;
// The upload lock of the fixture's context (provider "prov", user "tester").
constexpr const char* kUploadLock = "NOLTCMD_UPLOAD_LOCK_prov_tester";

class MoveFileGuardedTest : public EngineTest {
 protected:
  static std::string PathOf(const std::string& name) {
    fs::path folder = fs::path(platform::SandboxRoot()) / "moves";
    fs::create_directories(folder);
    return (folder / name).string();
  }
  static std::string Write(const std::string& name, const std::string& text) {
    std::string path = PathOf(name);
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }
};

// A move onto a file falls back to copy and delete; a failed move logs the move's own error
// (not the copy's, when the copy cannot replace a folder) and keeps the source.
TEST_F(MoveFileGuardedTest, AFailedMoveKeepsTheSourceAndLogsItsOwnError) {
  fs::create_directories(PathOf("folder"));
  Write("stale.dat", "old");
  SwmrGuard invalid;  // never created
  const struct {
    const char* source;  // written with "content" unless "missing"
    const char* target;
    SwmrGuard* guard;
    const char* failure;  // the logged line's end; null when the move succeeds
  } kCases[] = {
      {"fresh.dat", "stale.dat", nullptr, nullptr},
      {"missing.dat", "target.dat", nullptr, "]. Error Code: 2\n"},
      {"kept.dat", "folder", nullptr, "]. Error Code: 183\n"},
      {"guarded.dat", "moved.dat", &invalid, nullptr},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.source);
    const bool missing = std::string(c.source) == "missing.dat";
    const std::string source = missing ? PathOf(c.source) : Write(c.source, "content");
    const std::string target = PathOf(c.target);
    const bool succeeds = c.failure == nullptr && c.guard == nullptr;
    ClearLog();
    EXPECT_EQ(MoveFileGuarded(c.guard, HxStr(source), HxStr(target)), succeeds);
    EXPECT_EQ(ReadFile(succeeds ? target : source), missing ? "" : "content");
    EXPECT_EQ(fs::exists(source), !succeeds && !missing);
    if (c.failure != nullptr) {
      EXPECT_TRUE(Logged("Failed to move file [" + source + "]->[" + target + c.failure, 4));
    }
    if (c.guard != nullptr) {
      EXPECT_TRUE(Logged("** Failed to obtain upload lock...invalid lock **\n", 4));
    }
    EXPECT_EQ(CountLogged("Failed to move file"), c.failure != nullptr ? 1 : 0);
  }
  EXPECT_FALSE(fs::exists(PathOf("target.dat")) || fs::exists(PathOf("moved.dat")));
}

// The only test here that takes the upload lock: it is made once per process, in the sandbox
// of its first use.
TEST_F(MoveFileGuardedTest, AnUploadLockHeldByAnotherProcessTimesOutAfterTenSeconds) {
  std::string source = Write("queued.dat", "upload");
  std::string target = PathOf("sent.dat");
  locks_testing::LocksPeer holder("write", kUploadLock, "holder");
  ASSERT_TRUE(holder.WaitInside());
  auto& clock = dynamic_cast<platform::DrivenClock&>(platform::CurrentClock());
  std::future<bool> moved = std::async(std::launch::async, [&] {
    return MoveFileGuarded(&UploadLock(), HxStr(source), HxStr(target));
  });
  ASSERT_TRUE(clock.WaitUntilWaiting(1, kFailureGuardMs));
  clock.Advance(kUploadLockTimeoutMs - 1);
  ASSERT_TRUE(clock.WaitUntilWaiting(1, kFailureGuardMs));
  EXPECT_EQ(moved.wait_for(std::chrono::seconds(0)), std::future_status::timeout);
  clock.Advance(1);
  ASSERT_EQ(moved.wait_for(std::chrono::milliseconds(kFailureGuardMs)),
            std::future_status::ready);
  EXPECT_FALSE(moved.get());
  EXPECT_TRUE(Logged("** Failed to obtain upload lock...request timed out **\n", 4));
  EXPECT_EQ(ReadFile(source), "upload");
  EXPECT_FALSE(fs::exists(target));

  EXPECT_EQ(holder.Finish(), 0);
  EXPECT_TRUE(MoveFileGuarded(&UploadLock(), HxStr(source), HxStr(target)));
  EXPECT_EQ(ReadFile(target), "upload");
  locks_testing::LocksPeer next("write", kUploadLock, "next");  // the move let go of the lock
  EXPECT_TRUE(next.WaitInside());
  EXPECT_EQ(next.Finish(), 0);
}

}  // namespace
