// Run-mode detection as the host agents meet it: the command agent's executable copied under
// other names and run with the real plug-in, as a user or as the system account, with and
// without the service's instance mutex held elsewhere (also by or against another account).
#include <gtest/gtest.h>
#include <unistd.h>

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

constexpr const char* kServiceMutex = "Global\\__noltsvc__prov";
constexpr const char* kProviderKey = "SOFTWARE\\Strovane\\ProviderList\\prov";
constexpr const char* kSystem = "SYSTEM";

// The sandbox, a command agent under any name and what it logged.
class HostRunModeTest : public ::testing::Test {
 protected:
  HostRunModeTest() : sandbox_("alice") {}

  // A valid server stored for the user (the machine hive's user key for the system account),
  // and SimulateMode of the command agent's and the service's subkeys.
  static void Configure(const std::string& user, bool simulateCmd, bool simulateSvc) {
    platform::RegistryKey key;
    const bool system = user == kSystem;
    ASSERT_EQ(key.Create(system ? platform::kHkeyLocalMachine : platform::kHkeyCurrentUser,
                         std::string(kProviderKey) + "\\users\\" + user, platform::kKeyAllAccess),
              0u);
    ASSERT_EQ(key.SetString("prov", "http:\\\\127.0.0.1:9\\"), 0u);
    for (const auto& [subKey, on] : {std::pair{"Noltcmd", simulateCmd}, {"Noltsvc", simulateSvc}}) {
      ASSERT_EQ(key.Create(platform::kHkeyLocalMachine,
                           std::string(kProviderKey) + "\\" + subKey + "\\Modlets\\Tidesync",
                           platform::kKeyAllAccess),
                0u);
      ASSERT_EQ(key.SetDword("SimulateMode", on ? 1 : 0), 0u);
    }
  }

  // Runs the agent, copied as DIR/agents/bin/NAME (DIR/agents/lib links to the build's), as
  // `user` until it logged a line that contains `awaited` or ended, then stops it; returns what
  // it logged, and its exit status in status_.
  std::string RunAgent(const std::string& name, const std::string& user,
                       const std::string& awaited, bool asOtherAccount = false) {
    const fs::path bin = fs::path(sandbox_.Root()) / "agents" / "bin";
    fs::create_directories(bin);
    if (!fs::exists(bin.parent_path() / "lib")) {
      fs::create_directory_symlink(BuildPath("lib"), bin.parent_path() / "lib");
    }
    fs::copy_file(BuildPath("bin/noltcmd"), bin / name, fs::copy_options::overwrite_existing);
    std::vector<std::string> command{(bin / name).string(), "--provider", "prov", "--plugin",
                                     BuildPath("lib/libnoltsync.so")};
    if (asOtherAccount) command = locks_testing::AsOtherAccount(command);
    const std::string log = sandbox_.Root() + "/" + name + "-" + user + ".log";
    fs::remove(log);
    platform::ChildProcess agent;
    if (!agent.Start(command, {{"NOLT_ROOT", sandbox_.Root()}, {"NOLT_USER", user}}, log)) {
      ADD_FAILURE() << "cannot start " << name;
      return {};
    }
    // The log is a file the agent appends to: look again every few milliseconds.
    const auto giveUp =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kFailureGuardMs);
    while (ReadFile(log).find(awaited) == std::string::npos && agent.Wait(0) < 0 &&
           std::chrono::steady_clock::now() < giveUp) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (agent.Wait(0) < 0) agent.RequestTermination();  // the loop runs until told to stop
    status_ = agent.Wait(kFailureGuardMs);
    return ReadFile(log);
  }

  const std::string& Root() const { return sandbox_.Root(); }

  platform::testing::ScopedSandbox sandbox_;
  int status_ = -1;
};

// "Open noltsvc instance mutex, name=Global\__noltsvc__prov, handle=N" with N, or -1.
int LoggedMutexHandle(const std::string& log) {
  std::smatch match;
  std::regex line(
      R"(DETAIL Open noltsvc instance mutex, name=Global\\__noltsvc__prov, handle=(\d+)\n)");
  return std::regex_search(log, match, line) ? std::stoi(match[1]) : -1;
}

// The rows of the run-mode table as the agents meet them: the command agent's name in any
// case, the service host, another host name, SimulateMode of either subkey.
TEST_F(HostRunModeTest, EachHostAndAccountFindsItsRunMode) {
  const struct {
    const char* agent;
    const char* user;
    bool simulateCmd, simulateSvc, serviceUp;
    const char* line;  // with its level
    int handle;        // of the service mutex: 0 none, 1 opened, -1 not looked at
  } kCases[] = {
      {"noltcmd", "alice", false, false, false, "DETAIL IsInNoltcmdAlone", 0},
      {"NOLTCMD", "alice", false, false, true, "DETAIL IsInNoltCmdWithNoltsvcRunning", 1},
      {"NoltCmd.exe", "alice", false, false, true, "DETAIL IsInNoltCmdWithNoltsvcRunning", 1},
      // The service's switch is not the command agent's, nor the other way round.
      {"noltcmd", "alice", false, true, false, "DETAIL IsInNoltcmdAlone", 0},
      {"noltsvc", kSystem, true, true, false, "DETAIL IsInNoltsvcService", -1},
      {"noltcmd", "alice", true, true, true, "DETAIL IsInNoltSimulate mode", -1},
      {"tidesync-agent", kSystem, false, false, false,
       "ERROR  Could not determine runtext context: IsSys=1 InCmd=0 InSvc=0 SvcUp=0", -1},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.agent) + " as " + c.user + " -> " + c.line);
    Configure(c.user, c.simulateCmd, c.simulateSvc);
    std::unique_ptr<platform::Mutex> service;  // this process plays the service
    if (c.serviceUp) service = platform::Mutex::Create(kServiceMutex, true);
    const std::string log = RunAgent(c.agent, c.user, c.line + 7);
    EXPECT_NE(log.find(std::string(c.line) + "\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("IsIn"), log.rfind("IsIn")) << log;  // one row's line at most
    if (c.handle >= 0) {
      EXPECT_EQ(LoggedMutexHandle(log) > 0, c.handle == 1) << log;
    }
    EXPECT_NE(log.find("ModletStart returned for provider prov with state 6"), std::string::npos);
    EXPECT_EQ(status_, 0) << log;
  }
}

// Another account: uid 65534 through setpriv, which only root may switch to.
class HostRunModeOtherAccountTest : public HostRunModeTest {
 protected:
  void SetUp() override {
    if (!locks_testing::RunningAsRoot()) GTEST_SKIP() << "switching to uid 65534 needs root";
    ASSERT_TRUE(locks_testing::OpenSandboxToEveryAccount(Root()));
    Configure("alice", false, false);
  }
};

TEST_F(HostRunModeOtherAccountTest, AServiceMutexThatAnotherAccountOwnsCountsAsUp) {
  // Only root and the sandbox's owner make Global objects: the other account owns this one.
  ASSERT_EQ(chown(Root().c_str(), 65534, 65534), 0);  // the account AsOtherAccount runs as
  locks_testing::LocksPeer service("own", kServiceMutex, "service", "Global", true);
  ASSERT_TRUE(service.WaitInside());
  std::string log = RunAgent("noltcmd", "alice", "IsInNoltCmdWithNoltsvcRunning");
  EXPECT_GT(LoggedMutexHandle(log), 0) << log;  // root may open it all the same
  EXPECT_NE(log.find("DETAIL IsInNoltCmdWithNoltsvcRunning\n"), std::string::npos) << log;
  EXPECT_EQ(service.Finish(), 0);
}

TEST_F(HostRunModeOtherAccountTest, AnAgentDeniedTheServiceMutexStillSeesTheServiceUp) {
  auto service = platform::Mutex::Create(kServiceMutex, true);  // root's alone
  ASSERT_NE(service, nullptr);
  // The other account may write the sandbox's files and folders too (the named objects keep
  // their own rules).
  const fs::path objects = fs::path(Root()) / "objects";
  for (auto entry = fs::recursive_directory_iterator(Root());
       entry != fs::recursive_directory_iterator(); ++entry) {
    if (entry->path() == objects) {
      entry.disable_recursion_pending();
    } else if (!entry->is_symlink()) {
      fs::permissions(entry->path(), entry->is_directory() ? fs::perms::all : fs::perms(0666));
    }
  }
  std::string log = RunAgent("noltcmd", "alice", "IsInNoltCmdWithNoltsvcRunning", true);
  EXPECT_EQ(LoggedMutexHandle(log), 0) << log;  // access denied
  EXPECT_NE(log.find("DETAIL IsInNoltCmdWithNoltsvcRunning\n"), std::string::npos) << log;
  EXPECT_EQ(status_, 0) << log;
}

}  // namespace
