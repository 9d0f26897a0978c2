// The private temporary directory: new, mode 0700 whatever the umask, never taking over what
// lies under its name, removed with its content without following links, and given up after a
// bounded number of taken names.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <vector>

#include "foundation/context/directory_layout.h"
#include "foundation/files/private_temp_directory.h"
#include "scoped_sandbox.h"

namespace fs = std::filesystem;

namespace {

constexpr uint32_t kSeed = 7;

TEST(PrivateTempDirectoryTest, ANameAlreadyTakenIsPassedOverAndLeftAsItWas) {
  platform::testing::ScopedSandbox sandbox;
  const std::string root = sandbox.Root() + "/temp/";
  const fs::path outside = sandbox.Root() + "/outside";
  fs::create_directories(outside);
  std::ofstream(outside / "precious") << "keep";
  fs::path first;  // the name Create picks first for kSeed
  {
    PrivateTempDirectory probe;
    ASSERT_TRUE(probe.Create(root, "prov", kSeed));
    first = fs::path(LocalPath(probe.Path())).parent_path();
  }
  const std::vector<std::function<void()>> squatters = {
      [&] { fs::create_directory(first); },
      [&] { fs::create_directory_symlink(outside, first); },
      [&] { std::ofstream(first) << "keep"; }};
  for (const auto& squat : squatters) {
    squat();
    const mode_t previous = umask(0777);
    PrivateTempDirectory temp;
    const bool made = temp.Create(root, "prov", kSeed);
    umask(previous);
    ASSERT_TRUE(made);
    const fs::path dir = fs::path(LocalPath(temp.Path())).parent_path();
    EXPECT_NE(dir, first);
    EXPECT_EQ(fs::status(dir).permissions(), fs::perms::owner_all);
    fs::create_directory_symlink(outside, dir / "link");
    EXPECT_TRUE(temp.Remove());
    EXPECT_FALSE(fs::exists(dir));
    EXPECT_TRUE(fs::exists(fs::symlink_status(first)));
    EXPECT_TRUE(fs::exists(outside / "precious"));
    fs::remove(first);
  }
}

TEST(PrivateTempDirectoryTest, CreateGivesUpWhenEveryNameItTriesIsTaken) {
  platform::testing::ScopedSandbox sandbox;
  const std::string root = sandbox.Root() + "/temp/";
  std::vector<std::unique_ptr<PrivateTempDirectory>> held;
  for (int i = 0; i < PrivateTempDirectory::kMaxAttempts; ++i) {
    held.push_back(std::make_unique<PrivateTempDirectory>());
    ASSERT_TRUE(held.back()->Create(root, "prov", kSeed)) << i;
  }
  PrivateTempDirectory late;
  EXPECT_FALSE(late.Create(root, "prov", kSeed));
  EXPECT_EQ(std::distance(fs::directory_iterator(root), fs::directory_iterator()),
            PrivateTempDirectory::kMaxAttempts);
}

}  // namespace
