// The engine's guarded file move: the copy-and-delete fallback, the logged error of a failed
// move, and the upload lock held for writing by another process.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>
#include <string>

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
  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  static std::string FailureLine(const std::string& source, const std::string& target,
                                 int error) {
    return "Failed to move file [" + source + "]->[" + target + "]. Error Code: " +
           std::to_string(error) + "\n";
  }
};

TEST_F(MoveFileGuardedTest, AMoveOntoAnExistingTargetFallsBackToCopyAndDelete) {
  std::string source = Write("fresh.dat", "new content");
  std::string target = Write("stale.dat", "old");
  EXPECT_TRUE(MoveFileGuarded(nullptr, HxStr(source), HxStr(target)));
  EXPECT_EQ(Read(target), "new content");
  EXPECT_FALSE(fs::exists(source));
  EXPECT_EQ(CountLogged("Failed to move file"), 0);
}

TEST_F(MoveFileGuardedTest, AFailedMoveLogsTheMovesOwnError) {
  std::string target = PathOf("target.dat");
  std::string missing = PathOf("missing.dat");
  EXPECT_FALSE(MoveFileGuarded(nullptr, HxStr(missing), HxStr(target)));
  EXPECT_TRUE(Logged(FailureLine(missing, target, 2), 4));

  // An existing target makes the move try the copy, which cannot replace a folder: the line
  // carries the move's error, not the copy's.
  std::string source = Write("kept.dat", "content");
  std::string folder = PathOf("folder");
  fs::create_directories(folder);
  EXPECT_FALSE(MoveFileGuarded(nullptr, HxStr(source), HxStr(folder)));
  EXPECT_TRUE(Logged(FailureLine(source, folder, 183), 4));
  EXPECT_EQ(Read(source), "content");
  EXPECT_FALSE(fs::exists(target));
}

TEST_F(MoveFileGuardedTest, AGuardThatCannotBeTakenFailsTheMove) {
  std::string source = Write("guarded.dat", "content");
  std::string target = PathOf("moved.dat");
  SwmrGuard invalid;  // never created
  EXPECT_FALSE(MoveFileGuarded(&invalid, HxStr(source), HxStr(target)));
  EXPECT_TRUE(Logged("** Failed to obtain upload lock...invalid lock **\n", 4));
  EXPECT_EQ(Read(source), "content");
  EXPECT_FALSE(fs::exists(target));
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
  EXPECT_EQ(Read(source), "upload");
  EXPECT_FALSE(fs::exists(target));

  EXPECT_EQ(holder.Finish(), 0);
  EXPECT_TRUE(MoveFileGuarded(&UploadLock(), HxStr(source), HxStr(target)));
  EXPECT_EQ(Read(target), "upload");
  locks_testing::LocksPeer next("write", kUploadLock, "next");  // the move let go of the lock
  EXPECT_TRUE(next.WaitInside());
  EXPECT_EQ(next.Finish(), 0);
}

}  // namespace
