// Hives shared between processes (concurrent writers, the system account beside a user, who may
// write the machine hive), the paths table, and the shell-folder values a new hive starts with.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/errors.h"
#include "platform/locations.h"
#include "platform/registry.h"
#include "scoped_sandbox.h"

namespace {

using namespace platform;

class RegistryProcessTest : public ::testing::Test {
 protected:
  platform::testing::ScopedSandbox sandbox_;
};

// Runs body in a forked child and returns its exit status (body's result), or -1.
int RunInChild(const std::function<int()>& body) {
  pid_t child = fork();
  if (child == 0) _exit(body());
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

// 0 when every call gave what was expected, else the number of the first that did not.
int FirstMismatch(const std::vector<std::pair<uint32_t, uint32_t>>& actualAndExpected) {
  for (size_t i = 0; i < actualAndExpected.size(); ++i) {
    if (actualAndExpected[i].first != actualAndExpected[i].second) return static_cast<int>(i) + 1;
  }
  return 0;
}

std::string ReadString(uint32_t root, std::string_view path, std::string_view name) {
  RegistryKey key;
  RegistryValue value;
  if (key.Open(root, path, kKeyRead) != kErrorSuccess) return "<no key>";
  if (key.QueryValue(name, value) != kErrorSuccess || value.data.empty()) return "<no value>";
  return std::string(value.data.begin(), value.data.end() - 1);  // without the terminator
}

TEST_F(RegistryProcessTest, ConcurrentWritersFromSeveralProcessesAllLandAndEnumerate) {
  constexpr int kWriters = 3;
  constexpr int kValues = 150;
  RegistryKey shared;
  ASSERT_EQ(shared.Create(kHkeyLocalMachine, "Software\\Race", kKeyAllAccess), kErrorSuccess);
  RegistryKeyInfo info;
  ASSERT_EQ(shared.QueryInfo(info), kErrorSuccess);  // what it lists now must not stick
  std::vector<pid_t> children;
  for (int writer = 0; writer < kWriters; ++writer) {
    pid_t child = fork();
    if (child == 0) {
      // The handle opened before the fork keeps working in the child.
      for (int i = 0; i < kValues; ++i) {
        std::string name = "w" + std::to_string(writer) + "_" + std::to_string(i);
        if (shared.SetDword(name, static_cast<uint32_t>(i)) != kErrorSuccess) _exit(1);
      }
      _exit(0);
    }
    ASSERT_GT(child, 0);
    children.push_back(child);
  }
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  ASSERT_EQ(shared.QueryInfo(info), kErrorSuccess);
  EXPECT_EQ(info.values, static_cast<uint32_t>(kWriters * kValues));
  RegistryValue value;
  ASSERT_EQ(shared.QueryValue("w2_149", value), kErrorSuccess);
  EXPECT_EQ(value.data, RegistryDwordData(149));
}

TEST_F(RegistryProcessTest, SystemAccountAndUserKeepTheirOwnValuesAndShareTheMachine) {
  auto writeAs = [](const char* user, const char* machineValue) {
    return RunInChild([=] {
      platform::testing::SetEnvironment("NOLT_USER", user);
      RegistryKey own;
      RegistryKey machine;
      RegistryValue before;
      return FirstMismatch({{own.Create(kHkeyCurrentUser, "Software\\Who", kKeyAllAccess), 0},
                            {own.QueryValue("name", before), kErrorFileNotFound},
                            {own.SetString("name", user), 0},
                            {machine.Create(kHkeyLocalMachine, "Software\\Shared", kKeyAllAccess), 0},
                            {machine.SetString(user, machineValue), 0}});
    });
  };
  ASSERT_EQ(writeAs("SYSTEM", "from system"), 0);
  ASSERT_EQ(writeAs("alice", "from alice"), 0);

  // The system account's per-user keys live in the machine hive.
  EXPECT_EQ(ReadString(kHkeyLocalMachine, "users\\SYSTEM\\Software\\Who", "name"), "SYSTEM");
  platform::testing::SetEnvironment("NOLT_USER", "alice");
  EXPECT_EQ(ReadString(kHkeyCurrentUser, "Software\\Who", "name"), "alice");
  EXPECT_EQ(ReadString(kHkeyLocalMachine, "Software\\Shared", "SYSTEM"), "from system");
  platform::testing::SetEnvironment("NOLT_USER", "system");  // the name compares without case
  EXPECT_EQ(ReadString(kHkeyCurrentUser, "Software\\Who", "name"), "SYSTEM");
  EXPECT_EQ(ReadString(kHkeyLocalMachine, "Software\\Shared", "alice"), "from alice");
  struct stat info {};
  EXPECT_EQ(stat((sandbox_.Root() + "/users/alice/registry/user.db").c_str(), &info), 0);
  EXPECT_NE(stat((sandbox_.Root() + "/users/SYSTEM/registry/user.db").c_str(), &info), 0);
}

// What an unprivileged process may do with a machine hive that root made.
int UnprivilegedMachineAccess(bool rootOnly) {
  if (setgid(65534) != 0 || setuid(65534) != 0) return 100;
  uint32_t refused = rootOnly ? kErrorAccessDenied : kErrorSuccess;
  RegistryKey key;
  RegistryKey writer;
  RegistryKey maximum;
  RegistryValue value;
  return FirstMismatch({
      {key.Open(kHkeyLocalMachine, "Software\\Guarded", kKeyRead), 0},
      {key.QueryValue("v", value), 0},
      {key.SetDword("v", 2), kErrorAccessDenied},  // not in the mask
      {writer.Open(kHkeyLocalMachine, "Software\\Guarded", kKeyWrite), refused},
      {writer.Create(kHkeyLocalMachine, "Software\\Made", kKeyRead), refused},
      {maximum.Open(kHkeyLocalMachine, "Software", kMaximumAllowed), 0},
      {maximum.Access() & kKeySetValue, rootOnly ? 0 : kKeySetValue},
      {maximum.DeleteKey("Guarded"), refused},
  });
}

TEST_F(RegistryProcessTest, OnlyRootWritesTheMachineHiveOutsideASandbox) {
  // The sandbox stands in for the machine: the test switch gives it the rules outside one.
  RegistryKey guarded;
  ASSERT_EQ(guarded.Create(kHkeyLocalMachine, "Software\\Guarded", kKeyAllAccess), kErrorSuccess);
  ASSERT_EQ(guarded.SetDword("v", 1), kErrorSuccess);
  if (geteuid() != 0) {
    SetMachineHiveRootOnlyInSandbox(true);
    RegistryKey writer;
    EXPECT_EQ(writer.Open(kHkeyLocalMachine, "Software\\Guarded", kKeyWrite), kErrorAccessDenied);
    EXPECT_EQ(guarded.SetDword("v", 2), kErrorAccessDenied);
    SetMachineHiveRootOnlyInSandbox(false);
    GTEST_SKIP() << "the uid change needs root";
  }
  ASSERT_EQ(chmod(sandbox_.Root().c_str(), 0755), 0);
  SetMachineHiveRootOnlyInSandbox(true);
  EXPECT_EQ(RunInChild([] { return UnprivilegedMachineAccess(true); }), 0);
  EXPECT_EQ(guarded.SetDword("v", 3), kErrorSuccess);  // root still writes
  SetMachineHiveRootOnlyInSandbox(false);
  // Inside a sandbox every uid writes the machine hive.
  EXPECT_EQ(RunInChild([] { return UnprivilegedMachineAccess(false); }), 0);
}

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

TEST_F(RegistryLocationsTest, SandboxAndNormalInstallPathsFollowTheTable) {
  using Paths = std::vector<std::string>;
  auto paths = [] {
    return Paths{MachineHivePath(),          UserHivePath(),         CommonAppDataDirectory(),
                 LocalAppDataDirectory(),    RoamingAppDataDirectory(), ProgramFilesDirectory(),
                 PendingOperationsPath(),    PipeDirectory(),        WindowsDirectory()};
  };
  EXPECT_EQ(paths(), (Paths{root_ + "/machine/registry/machine.db",
                            root_ + "/users/alice/registry/user.db", root_ + "/machine/common",
                            root_ + "/users/alice/local", root_ + "/users/alice/roaming",
                            root_ + "/machine/opt", root_ + "/machine/pending-operations",
                            root_ + "/run/alice", root_ + "/machine/common/Windows"}));
  EnvironmentOverride environment;
  for (const auto& [name, value] :
       {std::pair<const char*, const char*>{"NOLT_ROOT", ""}, {"HOME", "/home/bob"},
        {"XDG_DATA_HOME", ""}, {"XDG_CONFIG_HOME", ""}, {"XDG_RUNTIME_DIR", "/run/user/1000/"}}) {
    environment.Set(name, value);
  }
  EXPECT_EQ(paths(), (Paths{"/var/lib/tidesync/registry/machine.db",
                            "/home/bob/.local/share/tidesync/registry/user.db",
                            "/var/lib/tidesync/common", "/home/bob/.local/share", "/home/bob/.config",
                            "/opt", "/var/lib/tidesync/pending-operations",
                            "/run/user/1000/tidesync", "/var/lib/tidesync/common/Windows"}));
  environment.Set("XDG_DATA_HOME", "/data/bob");
  environment.Set("XDG_CONFIG_HOME", "/config/bob");
  EXPECT_EQ(UserHivePath(), "/data/bob/tidesync/registry/user.db");
  EXPECT_EQ(LocalAppDataDirectory(), "/data/bob");
  EXPECT_EQ(RoamingAppDataDirectory(), "/config/bob");
}

TEST_F(RegistryLocationsTest, NewHivesStartWithTheirFoldersAndClasses) {
  constexpr const char* kExplorer = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\";
  struct Case {
    const char* user;
    uint32_t root;
    std::string under;
    const char* name;
    std::string path;
  };
  for (const Case& c : {
           Case{"alice", kHkeyLocalMachine, "", "Common AppData", CommonAppDataDirectory()},
           {"alice", kHkeyLocalMachine, "", "Common Startup",
            CommonAppDataDirectory() + "/Start Menu/Programs/Startup"},
           {"alice", kHkeyCurrentUser, "", "Local AppData", root_ + "/users/alice/local"},
           {"alice", kHkeyCurrentUser, "", "AppData", root_ + "/users/alice/roaming"},
           {"alice", kHkeyCurrentUser, "", "Personal", root_ + "/users/alice/local/Personal"},
           {"SYSTEM", kHkeyCurrentUser, "", "Local AppData", root_ + "/users/SYSTEM/local"},
           {"SYSTEM", kHkeyLocalMachine, "users\\SYSTEM\\", "AppData", root_ + "/users/SYSTEM/roaming"},
       }) {
    platform::testing::SetEnvironment("NOLT_USER", c.user);
    // The plain folder in "Shell Folders", the same as expandable text in "User Shell Folders".
    for (const auto& [folders, type] : {std::pair<const char*, uint32_t>{"Shell Folders", kRegSz},
                                        {"User Shell Folders", kRegExpandSz}}) {
      RegistryKey key;
      RegistryValue value;
      ASSERT_EQ(key.Open(c.root, c.under + kExplorer + folders, kKeyRead), kErrorSuccess) << c.name;
      ASSERT_EQ(key.QueryValue(c.name, value), kErrorSuccess) << c.name;
      EXPECT_EQ(value.type, type) << c.name;
      EXPECT_EQ(value.data, RegistryStringData(c.path)) << c.name;
    }
    RegistryKey classes;
    EXPECT_EQ(classes.Open(kHkeyClassesRoot, "", kKeyRead), kErrorSuccess) << c.user;
    EXPECT_EQ(classes.Open(c.root, c.under + "Software\\Classes", kKeyRead), kErrorSuccess);
  }
  platform::testing::SetEnvironment("NOLT_USER", "alice");
  EXPECT_EQ(ReadString(kHkeyLocalMachine, "Software\\Microsoft\\Windows\\CurrentVersion",
                       "ProgramFilesDir"),
            ProgramFilesDirectory());
  EXPECT_EQ(ReadString(kHkeyLocalMachine, "Software\\Microsoft\\Windows NT\\CurrentVersion",
                       "SystemRoot"),
            WindowsDirectory());
}

}  // namespace
