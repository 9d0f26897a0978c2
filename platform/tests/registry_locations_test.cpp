// The paths table, and the shell-folder values that a new hive starts with.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/errors.h"
#include "platform/locations.h"
#include "platform/registry.h"
#include "scoped_sandbox.h"

namespace {

using namespace platform;

constexpr const char* kShellFolders = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
constexpr const char* kUserShellFolders =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

class RegistryLocationsTest : public ::testing::Test {
 protected:
  platform::testing::ScopedSandbox sandbox_{"alice"};
  std::string root_ = sandbox_.Root();
};

// Sets environment variables for one scope, then restores them.
class EnvironmentOverride {
 public:
  void Set(const std::string& name, const std::string& value) {
    const char* previous = std::getenv(name.c_str());
    saved_.push_back({name, previous != nullptr ? previous : ""});
    platform::testing::SetEnvironment(name, value);
  }
  ~EnvironmentOverride() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      platform::testing::SetEnvironment(it->first, it->second);
    }
  }

 private:
  std::vector<std::pair<std::string, std::string>> saved_;
};

RegistryValue Read(uint32_t root, const std::string& path, const std::string& name) {
  RegistryKey key;
  RegistryValue value;
  EXPECT_EQ(key.Open(root, path, kKeyRead), kErrorSuccess) << path;
  EXPECT_EQ(key.QueryValue(name, value), kErrorSuccess) << path << " " << name;
  return value;
}

void ExpectFolder(uint32_t root, const std::string& under, const std::string& name,
                  const std::string& path) {
  RegistryValue plain = Read(root, under + kShellFolders, name);
  EXPECT_EQ(plain.type, kRegSz) << name;
  EXPECT_EQ(plain.data, RegistryStringData(path)) << name;
  RegistryValue expandable = Read(root, under + kUserShellFolders, name);
  EXPECT_EQ(expandable.type, kRegExpandSz) << name;
  EXPECT_EQ(expandable.data, RegistryStringData(path)) << name;
}

TEST_F(RegistryLocationsTest, SandboxPathsFollowTheTable) {
  EXPECT_EQ(MachineHivePath(), root_ + "/machine/registry/machine.db");
  EXPECT_EQ(UserHivePath(), root_ + "/users/alice/registry/user.db");
  EXPECT_EQ(CommonAppDataDirectory(), root_ + "/machine/common");
  EXPECT_EQ(LocalAppDataDirectory(), root_ + "/users/alice/local");
  EXPECT_EQ(RoamingAppDataDirectory(), root_ + "/users/alice/roaming");
  EXPECT_EQ(ProgramFilesDirectory(), root_ + "/machine/opt");
  EXPECT_EQ(PendingOperationsPath(), root_ + "/machine/pending-operations");
  EXPECT_EQ(PipeDirectory(), root_ + "/run/alice");
  EXPECT_EQ(WindowsDirectory(), root_ + "/machine/common/Windows");
}

TEST_F(RegistryLocationsTest, NormalInstallPathsFollowTheTable) {
  EnvironmentOverride environment;
  environment.Set("NOLT_ROOT", "");
  environment.Set("HOME", "/home/bob");
  environment.Set("XDG_DATA_HOME", "");
  environment.Set("XDG_CONFIG_HOME", "");
  environment.Set("XDG_RUNTIME_DIR", "/run/user/1000/");
  EXPECT_EQ(MachineHivePath(), "/var/lib/tidesync/registry/machine.db");
  EXPECT_EQ(UserHivePath(), "/home/bob/.local/share/tidesync/registry/user.db");
  EXPECT_EQ(CommonAppDataDirectory(), "/var/lib/tidesync/common");
  EXPECT_EQ(LocalAppDataDirectory(), "/home/bob/.local/share");
  EXPECT_EQ(RoamingAppDataDirectory(), "/home/bob/.config");
  EXPECT_EQ(ProgramFilesDirectory(), "/opt");
  EXPECT_EQ(PendingOperationsPath(), "/var/lib/tidesync/pending-operations");
  EXPECT_EQ(PipeDirectory(), "/run/user/1000/tidesync");

  environment.Set("XDG_DATA_HOME", "/data/bob");
  environment.Set("XDG_CONFIG_HOME", "/config/bob");
  EXPECT_EQ(UserHivePath(), "/data/bob/tidesync/registry/user.db");
  EXPECT_EQ(LocalAppDataDirectory(), "/data/bob");
  EXPECT_EQ(RoamingAppDataDirectory(), "/config/bob");
}

TEST_F(RegistryLocationsTest, NewMachineHiveStartsWithTheCommonFolders) {
  ExpectFolder(kHkeyLocalMachine, "", "Common AppData", CommonAppDataDirectory());
  ExpectFolder(kHkeyLocalMachine, "", "Common Startup",
               CommonAppDataDirectory() + "/Start Menu/Programs/Startup");
  RegistryValue programs =
      Read(kHkeyLocalMachine, "Software\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir");
  EXPECT_EQ(programs.data, RegistryStringData(ProgramFilesDirectory()));
  RegistryValue windows =
      Read(kHkeyLocalMachine, "Software\\Microsoft\\Windows NT\\CurrentVersion", "SystemRoot");
  EXPECT_EQ(windows.data, RegistryStringData(WindowsDirectory()));
  RegistryKey classes;
  EXPECT_EQ(classes.Open(kHkeyLocalMachine, "Software\\Classes", kKeyRead), kErrorSuccess);
}

TEST_F(RegistryLocationsTest, NewUserHiveStartsWithTheUsersFolders) {
  ExpectFolder(kHkeyCurrentUser, "", "Local AppData", root_ + "/users/alice/local");
  ExpectFolder(kHkeyCurrentUser, "", "AppData", root_ + "/users/alice/roaming");
  ExpectFolder(kHkeyCurrentUser, "", "Personal", root_ + "/users/alice/local/Personal");
  RegistryKey classes;
  EXPECT_EQ(classes.Open(kHkeyCurrentUser, "Software\\Classes", kKeyRead), kErrorSuccess);
}

TEST_F(RegistryLocationsTest, SystemAccountsKeysStartWithItsFolders) {
  EnvironmentOverride environment;
  environment.Set("NOLT_USER", "SYSTEM");
  ExpectFolder(kHkeyCurrentUser, "", "Local AppData", root_ + "/users/SYSTEM/local");
  ExpectFolder(kHkeyLocalMachine, "users\\SYSTEM\\", "AppData", root_ + "/users/SYSTEM/roaming");
  RegistryKey classes;
  EXPECT_EQ(classes.Open(kHkeyClassesRoot, "", kKeyRead), kErrorSuccess);
}

}  // namespace
