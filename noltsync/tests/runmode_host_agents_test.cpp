// Run-mode detection as the host agents meet it: the command agent's executable copied under
// other names and run with the real plug-in, as a user or as the system account, with and
// without the service's instance mutex held elsewhere (also by or against another account).
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "build_tree_files.h"
#include "locks_peer_process.h"
#include "platform/child_process.h"
#include "platform/registry.h"
#include "platform/sync.h"
#include "scoped_sandbox.h"

namespace {

namespace fs = std::filesystem;
using locks_testing::kFailureGuardMs;

constexpr const char* kProvider = "prov";
constexpr const char* kServiceMutex = "Global\\__noltsvc__prov";
constexpr const char* kProviderKey = "SOFTWARE\\Strovane\\ProviderList\\prov";
constexpr const char* kSystem = "SYSTEM";

void PutValue(uint32_t root, const std::string& path, const char* name, const std::string& text) {
  platform::RegistryKey key;
  ASSERT_EQ(key.Create(root, path, platform::kKeyAllAccess), 0u);
  std::vector<uint8_t> data = platform::RegistryStringData(text);
  ASSERT_EQ(key.SetValue(name, platform::kRegSz, data.data(), static_cast<uint32_t>(data.size())),
            0u);
}

// The sandbox, a command agent under any name and what it logged.
class HostRunModeTest : public ::testing::Test {
 protected:
  HostRunModeTest() : sandbox_("alice") {}

  // The command agent's executable copied as DIR/agents/bin/NAME; it finds the platform
  // library through DIR/agents/lib, a link to the build's.
  std::string InstallAgentAs(const std::string& name) {
    fs::path bin = fs::path(sandbox_.Root()) / "agents" / "bin";
    fs::create_directories(bin);
    if (!fs::exists(bin.parent_path() / "lib")) {
      fs::create_directory_symlink(BuildPath("lib"), bin.parent_path() / "lib");
    }
    fs::copy_file(BuildPath("bin/noltcmd"), bin / name, fs::copy_options::overwrite_existing);
    return (bin / name).string();
  }

  // A valid server stored for the user: the value named by the provider id in the user's key
  // (the machine hive's for the system account, else the user's own).
  void StoreServerFor(const std::string& user) {
    const bool system = user == kSystem;
    PutValue(system ? platform::kHkeyLocalMachine : platform::kHkeyCurrentUser,
             std::string(kProviderKey) + "\\users\\" + user, kProvider, "http:\\\\127.0.0.1:9\\");
  }

  // SimulateMode in a subkey of the provider key ("Noltcmd\Modlets\Tidesync", ...).
  static void SetSimulateMode(const std::string& subKey) {
    platform::RegistryKey key;
    ASSERT_EQ(key.Create(platform::kHkeyLocalMachine, std::string(kProviderKey) + "\\" + subKey,
                         platform::kKeyAllAccess),
              0u);
    ASSERT_EQ(key.SetDword("SimulateMode", 1), 0u);
  }

  // Runs the agent as `user` until it logged a line that contains `awaited` or ended, then
  // stops it; returns what it logged. Status() tells how it exited.
  std::string RunAgent(const std::string& name, const std::string& user,
                       const std::string& awaited, bool asOtherAccount = false) {
    std::vector<std::string> command{InstallAgentAs(name), "--provider", kProvider, "--plugin",
                                     BuildPath("lib/libnoltsync.so")};
    if (asOtherAccount) command = locks_testing::AsOtherAccount(command);
    const std::string log = sandbox_.Root() + "/" + name + "-" + user + ".log";
    platform::ChildProcess agent;
    if (!agent.Start(command, {{"NOLT_ROOT", sandbox_.Root()}, {"NOLT_USER", user}}, log)) {
      ADD_FAILURE() << "cannot start " << name;
      return {};
    }
    AwaitLineOrEnd(agent, log, awaited);
    if (agent.Wait(0) < 0) agent.RequestTermination();  // the loop runs until told to stop
    status_ = agent.Wait(kFailureGuardMs);
    return ReadFile(log);
  }

  int Status() const { return status_; }
  const std::string& Root() const { return sandbox_.Root(); }

 private:
  // The log is a file the agent appends to: look again every few milliseconds.
  static void AwaitLineOrEnd(platform::ChildProcess& agent, const std::string& log,
                             const std::string& awaited) {
    auto giveUp = std::chrono::steady_clock::now() + std::chrono::milliseconds(kFailureGuardMs);
    while (std::chrono::steady_clock::now() < giveUp) {
      if (ReadFile(log).find(awaited) != std::string::npos) return;
      if (agent.Wait(0) >= 0) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }

  platform::testing::ScopedSandbox sandbox_;
  int status_ = -1;
};

bool HasLine(const std::string& log, const std::string& levelAndText) {
  return log.find(levelAndText + "\n") != std::string::npos;
}

// "Open noltsvc instance mutex, name=Global\__noltsvc__prov, handle=N" with N, or -1.
int LoggedMutexHandle(const std::string& log) {
  std::smatch match;
  std::regex line(
      R"(DETAIL Open noltsvc instance mutex, name=Global\\__noltsvc__prov, handle=(\d+)\n)");
  return std::regex_search(log, match, line) ? std::stoi(match[1]) : -1;
}

TEST_F(HostRunModeTest, TheCommandAgentRunsAloneWithoutTheServiceMutex) {
  StoreServerFor("alice");
  std::string log = RunAgent("noltcmd", "alice", "IsInNoltcmdAlone");
  EXPECT_EQ(LoggedMutexHandle(log), 0) << log;
  EXPECT_TRUE(HasLine(log, "DETAIL IsInNoltcmdAlone")) << log;
  EXPECT_EQ(Status(), 0) << log;
}

TEST_F(HostRunModeTest, AnyCaseOfTheNameIsTheCommandAgentBesideARunningService) {
  StoreServerFor("alice");
  auto service = platform::Mutex::Create(kServiceMutex, true);  // this process is the service
  ASSERT_NE(service, nullptr);
  for (const char* name : {"NOLTCMD", "NoltCmd.exe"}) {
    std::string log = RunAgent(name, "alice", "IsInNoltCmdWithNoltsvcRunning");
    EXPECT_GT(LoggedMutexHandle(log), 0) << log;
    EXPECT_TRUE(HasLine(log, "DETAIL IsInNoltCmdWithNoltsvcRunning")) << log;
    EXPECT_EQ(Status(), 0) << log;
  }
}

TEST_F(HostRunModeTest, TheSystemAccountInTheServiceHostIsTheServiceEvenWithSimulateSet) {
  StoreServerFor(kSystem);
  SetSimulateMode("Noltsvc\\Modlets\\Tidesync");
  SetSimulateMode("Noltcmd\\Modlets\\Tidesync");
  std::string log = RunAgent("noltsvc", kSystem, "IsInNoltsvcService");
  EXPECT_TRUE(HasLine(log, "DETAIL IsInNoltsvcService")) << log;
  EXPECT_EQ(log.find("IsInNoltSimulate mode"), std::string::npos) << log;
  EXPECT_EQ(Status(), 0) << log;
}

TEST_F(HostRunModeTest, SimulateModeOfTheCommandAgentWinsOverEveryOtherRow) {
  StoreServerFor("alice");
  SetSimulateMode("Noltsvc\\Modlets\\Tidesync");  // the service's switch: not ours
  std::string log = RunAgent("noltcmd", "alice", "IsInNoltcmdAlone");
  EXPECT_TRUE(HasLine(log, "DETAIL IsInNoltcmdAlone")) << log;

  SetSimulateMode("Noltcmd\\Modlets\\Tidesync");
  auto service = platform::Mutex::Create(kServiceMutex, true);
  log = RunAgent("noltcmd", "alice", "IsInNoltSimulate mode");
  EXPECT_TRUE(HasLine(log, "DETAIL IsInNoltSimulate mode")) << log;
  EXPECT_EQ(Status(), 0) << log;
}

TEST_F(HostRunModeTest, AnotherHostNameAsTheSystemAccountCannotDetermineTheRunMode) {
  StoreServerFor(kSystem);
  std::string log = RunAgent("tidesync-agent", kSystem, "ModletDispose...");  // ends by itself
  EXPECT_TRUE(HasLine(log, "ERROR  Could not determine runtext context: IsSys=1 InCmd=0 InSvc=0 "
                           "SvcUp=0"))
      << log;
  EXPECT_TRUE(HasLine(log, "INFO   ModletStart returned for provider prov with state 6")) << log;
  EXPECT_EQ(Status(), 0) << log;
}

// Another account: uid 65534 through setpriv, which only root may switch to.
class HostRunModeOtherAccountTest : public HostRunModeTest {
 protected:
  void SetUp() override {
    if (!locks_testing::RunningAsRoot()) GTEST_SKIP() << "switching to uid 65534 needs root";
    ASSERT_TRUE(locks_testing::OpenSandboxToEveryAccount(Root()));
  }

  // Lets the other account write the sandbox's files and folders too (the named objects keep
  // their own rules).
  void OpenStateToEveryAccount() {
    const fs::path objects = fs::path(Root()) / "objects";
    for (auto entry = fs::recursive_directory_iterator(Root());
         entry != fs::recursive_directory_iterator(); ++entry) {
      if (entry->path() == objects) {
        entry.disable_recursion_pending();
      } else if (!entry->is_symlink()) {
        fs::permissions(entry->path(), entry->is_directory() ? fs::perms::all
                                                             : fs::perms(0666));
      }
    }
  }
};

TEST_F(HostRunModeOtherAccountTest, AServiceMutexThatAnotherAccountOwnsCountsAsUp) {
  StoreServerFor("alice");
  locks_testing::LocksPeer service("own", kServiceMutex, "service", "Global", true);
  ASSERT_TRUE(service.WaitInside());
  std::string log = RunAgent("noltcmd", "alice", "IsInNoltCmdWithNoltsvcRunning");
  EXPECT_GT(LoggedMutexHandle(log), 0) << log;  // root may open it all the same
  EXPECT_TRUE(HasLine(log, "DETAIL IsInNoltCmdWithNoltsvcRunning")) << log;
  EXPECT_EQ(service.Finish(), 0);
}

TEST_F(HostRunModeOtherAccountTest, AnAgentDeniedTheServiceMutexStillSeesTheServiceUp) {
  StoreServerFor("alice");
  auto service = platform::Mutex::Create(kServiceMutex, true);  // root's alone
  ASSERT_NE(service, nullptr);
  OpenStateToEveryAccount();
  std::string log = RunAgent("noltcmd", "alice", "IsInNoltCmdWithNoltsvcRunning", true);
  EXPECT_EQ(LoggedMutexHandle(log), 0) << log;  // access denied
  EXPECT_TRUE(HasLine(log, "DETAIL IsInNoltCmdWithNoltsvcRunning")) << log;
  EXPECT_EQ(Status(), 0) << log;
}

}  // namespace
