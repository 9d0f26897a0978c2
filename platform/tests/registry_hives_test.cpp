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
class Checks {
 public:
  void Expect(uint32_t actual, uint32_t expected) {
    ++count_;
    if (actual != expected && failed_ == 0) failed_ = count_;
  }
  int Result() const { return failed_; }

 private:
  int count_ = 0;
  int failed_ = 0;
};

std::string ReadString(uint32_t root, std::string_view path, std::string_view name) {
  RegistryKey key;
  RegistryValue value;
  if (key.Open(root, path, kKeyRead) != kErrorSuccess) return "<no key>";
  if (key.QueryValue(name, value) != kErrorSuccess || value.data.empty()) return "<no value>";
  return std::string(value.data.begin(), value.data.end() - 1);  // without the terminator
}

TEST_F(RegistryProcessTest, ConcurrentWritersFromSeveralProcessesAllLand) {
  constexpr int kWriters = 3;
  constexpr int kValues = 150;
  RegistryKey shared;
  ASSERT_EQ(shared.Create(kHkeyLocalMachine, "Software\\Race", kKeyAllAccess), kErrorSuccess);
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
  RegistryKeyInfo info;
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
      Checks checks;
      RegistryKey own;
      checks.Expect(own.Create(kHkeyCurrentUser, "Software\\Who", kKeyAllAccess), 0);
      RegistryValue before;
      checks.Expect(own.QueryValue("name", before), kErrorFileNotFound);
      checks.Expect(own.SetString("name", user), 0);
      RegistryKey machine;
      checks.Expect(machine.Create(kHkeyLocalMachine, "Software\\Shared", kKeyAllAccess), 0);
      checks.Expect(machine.SetString(user, machineValue), 0);
      return checks.Result();
    });
  };
  ASSERT_EQ(writeAs("SYSTEM", "from system"), 0);
  ASSERT_EQ(writeAs("alice", "from alice"), 0);

  // The system account's per-user keys live in the machine hive.
  EXPECT_EQ(ReadString(kHkeyLocalMachine, "users\\SYSTEM\\Software\\Who", "name"), "SYSTEM");
  platform::testing::SetEnvironment("NOLT_USER", "alice");
  EXPECT_EQ(ReadString(kHkeyCurrentUser, "Software\\Who", "name"), "alice");
  EXPECT_EQ(ReadString(kHkeyLocalMachine, "Software\\Shared", "SYSTEM"), "from system");
  platform::testing::SetEnvironment("NOLT_USER",
                                    "system");  // the account name compares without case
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
  Checks checks;
  RegistryKey key;
  checks.Expect(key.Open(kHkeyLocalMachine, "Software\\Guarded", kKeyRead), 0);
  RegistryValue value;
  checks.Expect(key.QueryValue("v", value), 0);
  checks.Expect(key.SetDword("v", 2), kErrorAccessDenied);  // not in the mask
  RegistryKey writer;
  checks.Expect(writer.Open(kHkeyLocalMachine, "Software\\Guarded", kKeyWrite), refused);
  checks.Expect(writer.Create(kHkeyLocalMachine, "Software\\Made", kKeyRead), refused);
  RegistryKey maximum;
  checks.Expect(maximum.Open(kHkeyLocalMachine, "Software", kMaximumAllowed), 0);
  checks.Expect(maximum.Access() & kKeySetValue, rootOnly ? 0 : kKeySetValue);
  checks.Expect(maximum.DeleteKey("Guarded"), refused);
  return checks.Result();
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

constexpr const char* kShellFolders =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
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

TEST_F(RegistryLocationsTest, SandboxAndNormalInstallPathsFollowTheTable) {
  EXPECT_EQ(MachineHivePath(), root_ + "/machine/registry/machine.db");
  EXPECT_EQ(UserHivePath(), root_ + "/users/alice/registry/user.db");
  EXPECT_EQ(CommonAppDataDirectory(), root_ + "/machine/common");
  EXPECT_EQ(LocalAppDataDirectory(), root_ + "/users/alice/local");
  EXPECT_EQ(RoamingAppDataDirectory(), root_ + "/users/alice/roaming");
  EXPECT_EQ(ProgramFilesDirectory(), root_ + "/machine/opt");
  EXPECT_EQ(PendingOperationsPath(), root_ + "/machine/pending-operations");
  EXPECT_EQ(PipeDirectory(), root_ + "/run/alice");
  EXPECT_EQ(WindowsDirectory(), root_ + "/machine/common/Windows");

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

TEST_F(RegistryLocationsTest, NewHivesStartWithTheMachinesAndTheUsersFolders) {
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

  ExpectFolder(kHkeyCurrentUser, "", "Local AppData", root_ + "/users/alice/local");
  ExpectFolder(kHkeyCurrentUser, "", "AppData", root_ + "/users/alice/roaming");
  ExpectFolder(kHkeyCurrentUser, "", "Personal", root_ + "/users/alice/local/Personal");
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
