// Named events, mutexes and semaphores within one process: names and lifetime, counts,
// ownership, access modes and damaged object files.
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
    for (const auto& entry : fs::directory_iterator(directory, missing)) {
      files.push_back(entry.path());
    }
    return files;
  }

  platform::testing::ScopedSandbox sandbox_;
};

// Runs `body` on another thread and waits for it.
template <typename Body>
void OnOtherThread(Body body) {
  std::thread thread(body);
  thread.join();
}

TEST_F(SyncObjectTest, CreateOfAnExistingNameOpensItWith183OpenOfNobodysNameIs2AndAnotherKindsIs6) {
  auto first = Event::Create("shared", true, false);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(LastError(), kErrorSuccess);
  // The second creation's reset mode and initial state are ignored.
  auto second = Event::Create("shared", false, true);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(LastError(), kErrorAlreadyExists);
  EXPECT_EQ(WaitForOne(*second, 0), kWaitTimeout);
  ASSERT_TRUE(first->Set());
  EXPECT_EQ(WaitForOne(*second, 0), kWaitObject0);
  EXPECT_EQ(WaitForOne(*second, 0), kWaitObject0);  // still manual reset
  auto opened = Event::Open("shared");
  ASSERT_NE(opened, nullptr);
  EXPECT_EQ(LastError(), kErrorSuccess);

  EXPECT_EQ(RefusedWith(Event::Open("missing")), kErrorFileNotFound);
  EXPECT_EQ(RefusedWith(Mutex::Open("missing")), kErrorFileNotFound);
  EXPECT_EQ(RefusedWith(Semaphore::Open("missing")), kErrorFileNotFound);
  auto event = Event::Create("taken", false, false);
  EXPECT_EQ(RefusedWith(Mutex::Create("taken", false)), kErrorInvalidHandle);
  EXPECT_EQ(RefusedWith(Semaphore::Open("taken")), kErrorInvalidHandle);
}

TEST_F(SyncObjectTest, ObjectLivesWhileAnyHandleDoesAndThenStartsFresh) {
  auto first = Semaphore::Create("counted", 2, 5);
  auto second = Semaphore::Open("counted");
  ASSERT_NE(second, nullptr);
  first.reset();
  int32_t previous = -1;
  ASSERT_TRUE(second->Release(1, &previous));
  EXPECT_EQ(previous, 2);
  second.reset();
  EXPECT_EQ(RefusedWith(Semaphore::Open("counted")), kErrorFileNotFound);
  auto fresh = Semaphore::Create("counted", 0, 1);
  ASSERT_NE(fresh, nullptr);
  EXPECT_EQ(LastError(), kErrorSuccess);
  EXPECT_EQ(WaitForOne(*fresh, 0), kWaitTimeout);
  EXPECT_TRUE(LocalObjectFiles().size() == 1);
  fresh.reset();
  EXPECT_TRUE(LocalObjectFiles().empty());  // the last close removes the file
}

// A file left behind (its removal failed) is not an object: nobody holds it.
TEST_F(SyncObjectTest, LeftoverFileOfAnEndedObjectCountsAsAbsent) {
  auto event = Event::Create("leftover", true, true);
  ASSERT_EQ(LocalObjectFiles().size(), 1u);
  fs::path file = LocalObjectFiles().front();
  fs::path copy = fs::path(sandbox_.Root()) / "copy";
  fs::copy_file(file, copy);
  event.reset();
  fs::copy_file(copy, file);
  EXPECT_EQ(RefusedWith(Event::Open("leftover")), kErrorFileNotFound);
  fs::copy_file(copy, file, fs::copy_options::overwrite_existing);
  auto fresh = Event::Create("leftover", true, false);
  ASSERT_NE(fresh, nullptr);
  EXPECT_EQ(LastError(), kErrorSuccess);
  EXPECT_EQ(WaitForOne(*fresh, 0), kWaitTimeout);
}

TEST_F(SyncObjectTest, SemaphoreCountsAndRefusesToPassItsMaximumOrLeaveItsRange) {
  auto semaphore = Semaphore::Create("slots", 1, 3);
  ASSERT_NE(semaphore, nullptr);
  EXPECT_EQ(WaitForOne(*semaphore, 0), kWaitObject0);
  EXPECT_EQ(WaitForOne(*semaphore, 0), kWaitTimeout);
  int32_t previous = -1;
  ASSERT_TRUE(semaphore->Release(3, &previous));
  EXPECT_EQ(previous, 0);
  EXPECT_FALSE(semaphore->Release(1, &previous));
  EXPECT_EQ(LastError(), kErrorTooManyPosts);
  EXPECT_EQ(previous, 0);  // untouched by the refused release
  for (int i = 0; i < 3; ++i) EXPECT_EQ(WaitForOne(*semaphore, 0), kWaitObject0);
  EXPECT_EQ(WaitForOne(*semaphore, 0), kWaitTimeout);
  EXPECT_FALSE(semaphore->Release(0));
  EXPECT_EQ(LastError(), kErrorInvalidParameter);
  EXPECT_EQ(RefusedWith(Semaphore::Create("bad", -1, 3)), kErrorInvalidParameter);
  EXPECT_EQ(Semaphore::Create("bad", 4, 3), nullptr);
  EXPECT_EQ(Semaphore::Create("bad", 0, 0), nullptr);
  auto widest = Semaphore::Create("wide", 0, 2147483647);
  ASSERT_NE(widest, nullptr);
  EXPECT_TRUE(widest->Release(2147483647));
  EXPECT_FALSE(widest->Release(1));
  EXPECT_EQ(LastError(), kErrorTooManyPosts);
}

TEST_F(SyncObjectTest, MutexIsRecursiveAndOnlyItsOwnerReleasesIt) {
  auto mutex = Mutex::Create("guard", true);
  ASSERT_NE(mutex, nullptr);
  EXPECT_EQ(WaitForOne(*mutex, 0), kWaitObject0);  // owned twice now
  uint32_t othersWait = 0;
  bool othersRelease = true;
  uint32_t othersError = 0;
  OnOtherThread([&] {
    othersWait = WaitForOne(*mutex, 0);
    othersRelease = mutex->Release();
    othersError = LastError();
  });
  EXPECT_EQ(othersWait, kWaitTimeout);
  EXPECT_FALSE(othersRelease);
  EXPECT_EQ(othersError, kErrorNotOwner);
  EXPECT_TRUE(mutex->Release());
  OnOtherThread([&] { othersWait = WaitForOne(*mutex, 0); });
  EXPECT_EQ(othersWait, kWaitTimeout);  // one level still held
  EXPECT_TRUE(mutex->Release());
  EXPECT_FALSE(mutex->Release());
  EXPECT_EQ(LastError(), kErrorNotOwner);
  OnOtherThread([&] {
    othersWait = WaitForOne(*mutex, 0);
    othersRelease = mutex->Release();
  });
  EXPECT_EQ(othersWait, kWaitObject0);
  EXPECT_TRUE(othersRelease);
  // Ownership belongs to the thread, not to the handle it was taken through.
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
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(LastError(), kErrorSuccess);
  ASSERT_TRUE(first->Set());
  EXPECT_EQ(WaitForOne(*first, 0), kWaitObject0);
  EXPECT_EQ(WaitForOne(*second, 0), kWaitTimeout);
  auto mutex = Mutex::Create("", true);
  ASSERT_NE(mutex, nullptr);
  EXPECT_TRUE(mutex->Release());
  EXPECT_EQ(Event::Open(""), nullptr);
  EXPECT_TRUE(LocalObjectFiles().empty());

  auto local = Event::Create("name", true, false);
  auto global = Event::Create("Global\\name", true, false);
  EXPECT_EQ(LastError(), kErrorSuccess);
  auto explicitLocal = Event::Open("Local\\name");
  ASSERT_NE(explicitLocal, nullptr);
  ASSERT_TRUE(global->Set());
  EXPECT_EQ(WaitForOne(*explicitLocal, 0), kWaitTimeout);
  ASSERT_TRUE(local->Set());
  EXPECT_EQ(WaitForOne(*explicitLocal, 0), kWaitObject0);

  std::string longName(1000, 'x');
  std::vector<std::string> names = {"a/b", "a%2Fb", "..", "with space", longName, longName + "y"};
  std::vector<std::unique_ptr<Event>> events;
  for (const std::string& name : names) {
    events.push_back(Event::Create(name, true, false));
    ASSERT_NE(events.back(), nullptr) << name;
    EXPECT_EQ(LastError(), kErrorSuccess) << name;
  }
  for (size_t i = 0; i < names.size(); ++i) {
    auto again = Event::Open(names[i]);
    ASSERT_NE(again, nullptr);
    ASSERT_TRUE(again->Set());
    EXPECT_EQ(WaitForOne(*events[i], 0), kWaitObject0);
    if (i + 1 < names.size()) {
      EXPECT_EQ(WaitForOne(*events[i + 1], 0), kWaitTimeout);
    }
  }
}

// The umask must not decide who may use an object.
TEST_F(SyncObjectTest, AccessSetsTheModeOfTheObjectFile) {
  mode_t previous = umask(077);
  auto everyone = Event::Create("Global\\everyone", false, false, ObjectAccess::Everyone);
  auto owner = Event::Create("Global\\owner", false, false, ObjectAccess::Owner);
  umask(previous);
  ASSERT_NE(everyone, nullptr);
  ASSERT_NE(owner, nullptr);
  fs::path global = fs::path(sandbox_.Root()) / "objects" / "global";
  struct stat info {};
  ASSERT_EQ(stat((global / "o_everyone").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0666u);
  ASSERT_EQ(stat((global / "o_owner").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  ASSERT_TRUE(owner->SetAccess(ObjectAccess::Everyone));
  ASSERT_EQ(stat((global / "o_owner").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0666u);
  ASSERT_EQ(stat(global.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 01777u);
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
  EXPECT_EQ(RefusedWith(Event::Create("fifo", false, false)), kErrorAccessDenied);
  fs::create_directory(directory / "o_directory");
  EXPECT_EQ(RefusedWith(Event::Create("directory", false, false)), kErrorAccessDenied);
  fs::create_symlink(directory / "o_damaged", directory / "o_link");
  EXPECT_EQ(RefusedWith(Event::Open("link")), kErrorAccessDenied);

  event.reset();
  fs::remove_all(directory);
  fs::create_directory_symlink(sandbox_.Root(), directory);
  EXPECT_EQ(RefusedWith(Event::Create("anything", false, false)), kErrorAccessDenied);
}

TEST_F(SyncObjectTest, HandleValuesAreSmallDistinctAndReused) {
  auto first = Event::Create("", false, false);
  auto second = Event::Create("", false, false);
  EXPECT_GT(first->HandleValue(), 0);
  EXPECT_LT(first->HandleValue(), 64);
  EXPECT_NE(first->HandleValue(), second->HandleValue());
  int freed = first->HandleValue();
  first.reset();
  auto third = Mutex::Create("", false);
  EXPECT_EQ(third->HandleValue(), freed);
}

}  // namespace
