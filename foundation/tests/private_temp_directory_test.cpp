// The private temporary directory: made new with mode 0700 whatever the umask, never taking over
// what already lies under its name, and removed with its content without following links.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "foundation/context/directory_layout.h"
#include "foundation/files/private_temp_directory.h"
#include "scoped_sandbox.h"

namespace fs = std::filesystem;

namespace {

constexpr uint32_t kSeed = 7;

class PrivateTempDirectoryTest : public ::testing::Test {
 protected:
  std::string Root() const { return sandbox_.Root() + "/temp/"; }
  // The name that Create picks first for kSeed.
  std::string FirstName() {
    PrivateTempDirectory probe;
    EXPECT_TRUE(probe.Create(Root(), "prov", kSeed));
    return LocalPath(probe.Path());
  }
  static void Write(const fs::path& path) { std::ofstream(path) << "keep"; }

  platform::testing::ScopedSandbox sandbox_;
};

TEST_F(PrivateTempDirectoryTest, WhatLiesUnderTheNameIsPassedOverAndLeftAsItWas) {
  const std::string first = FirstName();
  EXPECT_FALSE(fs::exists(first));  // the probe removed its own
  const fs::path elsewhere = sandbox_.Root() + "/elsewhere";
  fs::create_directories(elsewhere);
  const std::vector<std::function<void(const fs::path&)>> squatters = {
      [](const fs::path& at) { fs::create_directory(at); },
      [&](const fs::path& at) { fs::create_directory_symlink(elsewhere, at); },
      [](const fs::path& at) { Write(at); },
  };
  for (size_t row = 0; row < squatters.size(); ++row) {
    SCOPED_TRACE(row);
    const fs::path squat = fs::path(first).parent_path();
    squatters[row](squat);
    {
      PrivateTempDirectory temp;
      ASSERT_TRUE(temp.Create(Root(), "prov", kSeed));
      const std::string made = LocalPath(temp.Path());
      EXPECT_NE(made, first);
      EXPECT_EQ(fs::status(made).permissions(), fs::perms::owner_all);
      Write(made + "file");
    }
    EXPECT_TRUE(fs::exists(fs::symlink_status(squat)));
    EXPECT_TRUE(fs::is_empty(elsewhere));
    fs::remove(squat);
  }
}

TEST_F(PrivateTempDirectoryTest, TheModeIsPrivateUnderAnyUmaskAndRemovalDoesNotFollowLinks) {
  const fs::path outside = sandbox_.Root() + "/outside";
  fs::create_directories(outside);
  Write(outside / "precious");
  fs::create_directories(Root());
  const mode_t previous = umask(0777);
  PrivateTempDirectory temp;
  const bool made = temp.Create(Root(), "prov", kSeed);
  umask(previous);
  ASSERT_TRUE(made);
  const fs::path dir = LocalPath(temp.Path());
  EXPECT_EQ(fs::status(dir).permissions(), fs::perms::owner_all);
  fs::create_directories(dir / "nested");
  Write(dir / "nested" / "file");
  fs::create_directory_symlink(outside, dir / "nested" / "link");
  EXPECT_TRUE(temp.Remove());
  EXPECT_FALSE(fs::exists(dir));
  EXPECT_TRUE(fs::exists(outside / "precious"));
}

TEST_F(PrivateTempDirectoryTest, CreateGivesUpWhenEveryNameItTriesIsTaken) {
  std::vector<std::unique_ptr<PrivateTempDirectory>> held;
  for (int i = 0; i < PrivateTempDirectory::kMaxAttempts; ++i) {
    held.push_back(std::make_unique<PrivateTempDirectory>());
    ASSERT_TRUE(held.back()->Create(Root(), "prov", kSeed)) << i;
  }
  PrivateTempDirectory late;
  EXPECT_FALSE(late.Create(Root(), "prov", kSeed));
  EXPECT_FALSE(late.Exists());
  EXPECT_EQ(std::distance(fs::directory_iterator(Root()), fs::directory_iterator()),
            PrivateTempDirectory::kMaxAttempts);
}

}  // namespace
