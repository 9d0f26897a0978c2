// Named events, mutexes and semaphores within one process: names and lifetime, counts and
// held units, ownership, access modes and damaged object files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/errors.h"
#include "platform/sync.h"
#include "scoped_sandbox.h"
#include "sync_test_support.h"

namespace {

namespace fs = std::filesystem;
using namespace platform;
using platform::testing::RefusedWith;

class SyncObjectTest : public ::testing::Test {
 protected:
  // The object files of the calling account's local namespace.
  std::vector<fs::path> LocalObjectFiles() const {
    std::vector<fs::path> files;
    fs::path directory = fs::path(sandbox_.Root()) / "objects" / ("u" + std::to_string(geteuid()));
    std::error_code missing;
    for (const auto& entry : fs::directory_iterator(directory, missing))
      files.push_back(entry.path());
    return files;
  }

  platform::testing::ScopedSandbox sandbox_;
};

// What `body` returns on a thread of its own.
template <typename Body>
auto OnOtherThread(Body body) {
  decltype(body()) result{};
  std::thread([&] { result = body(); }).join();
  return result;
}

TEST_F(SyncObjectTest, CreateOfAnExistingNameOpensItWith183OpenOfNobodysNameIs2AndAnotherKindsIs6) {
  auto first = Event::Create("shared", true, false);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(LastError(), kErrorSuccess);
  auto second = Event::Create("shared", false, true);  // its mode and state are ignored
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(LastError(), kErrorAlreadyExists);
  EXPECT_EQ(WaitForOne(*second, 0), kWaitTimeout);
  ASSERT_TRUE(first->Set());
  EXPECT_EQ(WaitForOne(*second, 0), kWaitObject0);
  EXPECT_EQ(WaitForOne(*second, 0), kWaitObject0);  // still manual reset
  EXPECT_EQ(RefusedWith(Event::Open("shared")), kErrorSuccess);
  EXPECT_EQ(RefusedWith(Event::Open("missing")), kErrorFileNotFound);
  EXPECT_EQ(RefusedWith(Mutex::Open("missing")), kErrorFileNotFound);
  EXPECT_EQ(RefusedWith(Mutex::Create("shared", false)), kErrorInvalidHandle);
  EXPECT_EQ(RefusedWith(Semaphore::Open("shared")), kErrorInvalidHandle);
}

TEST_F(SyncObjectTest, ObjectLivesWhileAnyHandleDoesThenStartsFreshAndALeftoverFileIsNoObject) {
  auto first = Semaphore::Create("counted", 2, 5);
  auto second = Semaphore::Open("counted");
  ASSERT_NE(second, nullptr);
  const int freedValue = first->HandleValue();
  first.reset();
  int32_t previous = -1;
  ASSERT_TRUE(second->Release(1, &previous));
  EXPECT_EQ(previous, 2);
  auto reused = Event::Create("", false, false);
  EXPECT_EQ(reused->HandleValue(), freedValue);  // handle values stay small
  ASSERT_EQ(LocalObjectFiles().size(), 1u);
  fs::path file = LocalObjectFiles().front();
  fs::path copy = fs::path(sandbox_.Root()) / "copy";
  fs::copy_file(file, copy);
  second.reset();
  EXPECT_TRUE(LocalObjectFiles().empty());  // the last close removes the file
  fs::copy_file(copy, file);                // as if that removal had failed
  EXPECT_EQ(RefusedWith(Semaphore::Open("counted")), kErrorFileNotFound);
  auto fresh = Semaphore::Create("counted", 0, 1);
  ASSERT_NE(fresh, nullptr);
  EXPECT_EQ(LastError(), kErrorSuccess);
  EXPECT_EQ(WaitForOne(*fresh, 0), kWaitTimeout);
}

TEST_F(SyncObjectTest, SemaphoreCountsWithinItsRangeAndHeldUnitsLeaveWithTheirHandle) {
  const struct {
    int32_t initial;
    int32_t maximum;
  } refused[] = {{-1, 3}, {4, 3}, {0, 0}};
  for (const auto& r : refused) {
    EXPECT_EQ(RefusedWith(Semaphore::Create("bad", r.initial, r.maximum)), kErrorInvalidParameter);
  }
  auto semaphore = Semaphore::Create("slots", 1, 3);
  auto other = Semaphore::Open("slots");
  int32_t previous = -1;
  EXPECT_FALSE(semaphore->Release(0));
  EXPECT_EQ(LastError(), kErrorInvalidParameter);
  ASSERT_TRUE(other->ReleaseHeld(2));
  EXPECT_FALSE(semaphore->Release(1, &previous));
  EXPECT_EQ(LastError(), kErrorTooManyPosts);
  EXPECT_EQ(previous, -1);  // untouched by the refused release
  int32_t count = 0;
  ASSERT_TRUE(semaphore->Count(count));
  EXPECT_EQ(count, 3);
  EXPECT_EQ(WaitForOne(*semaphore, 0), kWaitObject0);  // the free unit, not the held ones
  other.reset();                                       // its held units leave with it
  ASSERT_TRUE(semaphore->Count(count));
  EXPECT_EQ(count, 0);
  ASSERT_TRUE(semaphore->ReleaseHeld(1));
  ASSERT_TRUE(semaphore->Release(1));
  EXPECT_EQ(WaitForOne(*semaphore, 0), kWaitObject0);  // its own unit first
  auto last = Semaphore::Open("slots");
  semaphore.reset();  // held nothing more: the free unit stays
  EXPECT_EQ(WaitForOne(*last, 0), kWaitObject0);
  EXPECT_EQ(WaitForOne(*last, 0), kWaitTimeout);
  auto widest = Semaphore::Create("wide", 0, 2147483647);
  EXPECT_TRUE(widest->Release(2147483647));
  EXPECT_FALSE(widest->Release(1));
}

TEST_F(SyncObjectTest, MutexIsRecursiveAndBelongsToTheThreadThatTookItNotToTheHandle) {
  auto mutex = Mutex::Create("guard", true);
  ASSERT_NE(mutex, nullptr);
  EXPECT_EQ(WaitForOne(*mutex, 0), kWaitObject0);  // owned twice now
  auto otherTries = [&] {
    uint32_t wait = WaitForOne(*mutex, 0);
    bool released = mutex->Release();
    return std::vector<uint32_t>{wait, released ? 1u : 0u, LastError()};
  };
  EXPECT_EQ(OnOtherThread(otherTries), (std::vector<uint32_t>{kWaitTimeout, 0, kErrorNotOwner}));
  EXPECT_TRUE(mutex->Release());
  EXPECT_EQ(OnOtherThread([&] { return WaitForOne(*mutex, 0); }), kWaitTimeout);  // one level left
  EXPECT_TRUE(mutex->Release());
  EXPECT_FALSE(mutex->Release());
  EXPECT_EQ(LastError(), kErrorNotOwner);
  EXPECT_EQ(OnOtherThread(otherTries), (std::vector<uint32_t>{kWaitObject0, 1, kErrorSuccess}));
  auto second = Mutex::Open("guard");
  ASSERT_EQ(WaitForOne(*mutex, 0), kWaitObject0);
  EXPECT_EQ(WaitForOne(*second, 0), kWaitObject0);
  EXPECT_TRUE(second->Release());
  EXPECT_TRUE(mutex->Release());
  EXPECT_FALSE(mutex->Release());
}

TEST_F(SyncObjectTest, UnnamedObjectsArePrivateAndNamespacesAndUnusualNamesNameDistinctObjects) {
  auto first = Event::Create("", true, false);
  auto second = Event::Create("", true, false);
  ASSERT_TRUE(first && second && first->Set());
  EXPECT_EQ(WaitForOne(*second, 0), kWaitTimeout);
  EXPECT_EQ(Event::Open(""), nullptr);
  EXPECT_TRUE(LocalObjectFiles().empty());

  std::string longName(1000, 'x');
  std::vector<std::string> names = {"name", "Global\\name", "a/b",    "a%2Fb",
                                    "..",   "with space",   longName, longName + "y"};
  std::vector<std::unique_ptr<Event>> events;
  for (const std::string& name : names) {
    events.push_back(Event::Create(name, true, false));
    ASSERT_NE(events.back(), nullptr) << name;
    EXPECT_EQ(LastError(), kErrorSuccess) << name;
  }
  for (size_t i = 0; i < names.size(); ++i) {
    auto again = Event::Open(i == 0 ? "Local\\name" : names[i]);
    ASSERT_TRUE(again && again->Set());
    EXPECT_EQ(WaitForOne(*events[i], 0), kWaitObject0) << names[i];
    if (i + 1 < names.size()) {
      EXPECT_EQ(WaitForOne(*events[i + 1], 0), kWaitTimeout) << names[i];
    }
  }
}

// The umask must not decide who may use an object.
TEST_F(SyncObjectTest, AccessSetsTheModeOfTheObjectFile) {
  mode_t previous = umask(077);
  auto everyone = Event::Create("Global\\everyone", false, false, ObjectAccess::Everyone);
  auto owner = Event::Create("Global\\owner", false, false, ObjectAccess::Owner);
  umask(previous);
  fs::path global = fs::path(sandbox_.Root()) / "objects" / "global";
  auto mode = [&](const char* name) {
    struct stat info {};
    return stat((global / name).c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
  };
  EXPECT_EQ(mode("o_everyone"), 0666u);
  EXPECT_EQ(mode("o_owner"), 0600u);
  ASSERT_TRUE(owner->SetAccess(ObjectAccess::Everyone));
  EXPECT_EQ(mode("o_owner"), 0666u);
  EXPECT_EQ(mode("."), 01777u);
}

TEST_F(SyncObjectTest, DamagedObjectFilesFailAndForeignOnesOrAnUntrustedDirectoryAreRefused) {
  // Another account may truncate a shared object file: the handle fails, nothing crashes.
  auto event = Event::Create("damaged", false, false);
  ASSERT_EQ(LocalObjectFiles().size(), 1u);
  fs::path directory = LocalObjectFiles().front().parent_path();
  fs::resize_file(LocalObjectFiles().front(), 0);
  EXPECT_EQ(WaitForOne(*event, 0), kWaitFailed);
  EXPECT_FALSE(event->Set());
  EXPECT_EQ(RefusedWith(Event::Open("damaged")), kErrorInvalidHandle);

  ASSERT_EQ(mkfifo((directory / "o_fifo").c_str(), 0600), 0);
  fs::create_directory(directory / "o_directory");
  fs::create_symlink(directory / "o_damaged", directory / "o_link");
  for (const char* name : {"fifo", "directory", "link"}) {
    EXPECT_EQ(RefusedWith(Event::Create(name, false, false)), kErrorAccessDenied) << name;
  }
  event.reset();
  fs::remove_all(directory);
  fs::create_directory_symlink(sandbox_.Root(), directory);
  EXPECT_EQ(RefusedWith(Event::Create("anything", false, false)), kErrorAccessDenied);
}

}  // namespace
