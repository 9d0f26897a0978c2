// Run-mode detection as the host agents meet it: the command agent's executable copied under
// other names and run with the real plug-in, as a user or as the system account, with and
// without the service's instance mutex held elsewhere (also by or against another account, and
// left behind by a killed service), and woken by the service's notification.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "build_tree_files.h"
#include "locks_peer_process.h"
#include "platform/child_process.h"
#include "platform/registry.h"
#include "platform/sandbox.h"
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

  // A line to wait for in the agent's log, and what to do once it shows.
  struct Step {
    std::string awaited;
    std::function<void()> then = {};
  };

  // Runs the agent, copied as DIR/agents/bin/NAME (DIR/agents/lib links to the build's), as
  // `user` through the steps while it runs, then stops it; returns what it logged, and its exit
  // status in status_.
  std::string RunAgent(const std::string& name, const std::string& user,
                       const std::vector<Step>& steps, bool asOtherAccount = false) {
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
    for (const Step& step : steps) {
      while (ReadFile(log).find(step.awaited) == std::string::npos && agent.Wait(0) < 0 &&
             std::chrono::steady_clock::now() < giveUp) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
      if (ReadFile(log).find(step.awaited) == std::string::npos) break;
      if (step.then) step.then();
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
    const std::string log = RunAgent(c.agent, c.user, {{c.line + 7}});
    EXPECT_NE(log.find(std::string(c.line) + "\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("IsIn"), log.rfind("IsIn")) << log;  // one row's line at most
    if (c.handle >= 0) {
      EXPECT_EQ(LoggedMutexHandle(log) > 0, c.handle == 1) << log;
    }
    EXPECT_NE(log.find("ModletStart returned for provider prov with state 6"), std::string::npos);
    EXPECT_EQ(status_, 0) << log;
  }
}

// Another account: uid 65534 through setpriv, which only root may switch to. It may write the
// sandbox's files and folders too (the named objects keep their own rules).
class HostRunModeOtherAccountTest : public HostRunModeTest {
 protected:
  void SetUp() override {
    if (!locks_testing::RunningAsRoot()) GTEST_SKIP() << "switching to uid 65534 needs root";
    ASSERT_TRUE(locks_testing::OpenSandboxToEveryAccount(Root()));
    Configure("alice", false, false);
    ASSERT_FALSE(platform::NamedObjectDirectory(true).empty());  // root makes it at boot
    const fs::path objects = fs::path(Root()) / "objects";
    for (auto entry = fs::recursive_directory_iterator(Root());
         entry != fs::recursive_directory_iterator(); ++entry) {
      if (entry->path() == objects) {
        entry.disable_recursion_pending();
      } else if (!entry->is_symlink()) {
        fs::permissions(entry->path(), entry->is_directory() ? fs::perms::all : fs::perms(0666));
      }
    }
  }
};

// The service's instance mutex and the agent on either side of the account line: root's agent
// opens another account's mutex; another account's agent may not open root's, which counts as
// up while the service holds it (and the service's notification then wakes the agent's loop),
// and as no service once the service was killed.
TEST_F(HostRunModeOtherAccountTest, AnAgentSeesTheServiceUpWhileItHoldsItsMutexWhoeverOwnsIt) {
  const struct {
    bool serviceAsOther, serviceKilled, agentAsOther;
    const char* line;
    bool mutexOpened;
  } kCases[] = {
      {true, false, false, "DETAIL IsInNoltCmdWithNoltsvcRunning", true},
      {false, false, true, "DETAIL IsInNoltCmdWithNoltsvcRunning", false},
      {false, true, true, "DETAIL IsInNoltcmdAlone", false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(::testing::Message() << "row " << &c - kCases);
    locks_testing::LocksPeer service("own", kServiceMutex, "service", "Global", c.serviceAsOther);
    ASSERT_TRUE(service.WaitInside());
    if (c.serviceKilled) service.Kill();
    // Once the loop waits, the service's notification as NotifyNoltcmdSync sends it.
    const auto notify = [] {
      auto event = platform::Event::Open("Global\\NOLTCMD_SYNC_EVENT_prov_alice");
      ASSERT_TRUE(event && event->Set());
    };
    std::vector<Step> steps{{c.line}};
    if (!c.serviceKilled) {
      steps.push_back({"Going to sleep with TO of -1 sec.", notify});
      steps.push_back({"Received sync notification event from noltsvc...\n"});
    }
    const std::string log = RunAgent("noltcmd", "alice", steps, c.agentAsOther);
    EXPECT_EQ(LoggedMutexHandle(log) > 0, c.mutexOpened) << log;
    for (const Step& step : steps) EXPECT_NE(log.find(step.awaited), std::string::npos) << log;
    EXPECT_NE(log.find("ModletStart returned for provider prov with state 6"), std::string::npos);
    EXPECT_EQ(status_, 0) << log;
    if (!c.serviceKilled) {
      EXPECT_EQ(service.Finish(), 0);
    }
  }
}

}  // namespace
