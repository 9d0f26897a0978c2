// The command agent runs the real plug-in in a sandbox, and other processes wake its loop
// through each of its events.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "build_tree_files.h"
#include "platform/child_process.h"
#include "platform/sync.h"
#include "scoped_sandbox.h"

namespace {

constexpr uint32_t kGuardMs = 20000;  // a failure guard, never a pause
constexpr const char* kUserKey = "HKCU\\SOFTWARE\\Strovane\\ProviderList\\prov\\users\\alice";

class AgentLoopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A valid server for the user, and no prune pending, so the loop wakes only when told.
    Run({"bin/noltreg", "add", kUserKey, "-v", "prov", "-d", "http://127.0.0.1:9/tidesync/", "-f"});
    Run({"bin/noltreg", "add", kUserKey, "-v", "PruneOfflineMask", "-d", "op", "-f"});
    ASSERT_TRUE(agent_.Start({BuildPath("bin/noltcmd"), "--provider", "prov", "--log", Log()},
                             {{"NOLT_ROOT", sandbox_.Root()}, {"NOLT_USER", "alice"}}));
  }

  std::string Log() const { return sandbox_.Root() + "/agent.log"; }

  // Runs a built program as alice, such as "noltcmd /bitsjobwakeup EVENT JOBID" as the transfer
  // service would.
  void Run(std::vector<std::string> arguments) {
    arguments[0] = BuildPath(arguments[0]);
    platform::ChildProcess tool;
    ASSERT_TRUE(tool.Start(arguments, {{"NOLT_ROOT", sandbox_.Root()}, {"NOLT_USER", "alice"}},
                           sandbox_.Root() + "/tool.out"));
    ASSERT_EQ(tool.Wait(kGuardMs), 0) << ReadFile(sandbox_.Root() + "/tool.out");
  }

  // Reads the log between short waits on the agent's exit until the text shows up.
  bool WaitForLog(const std::string& text) {
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::milliseconds(kGuardMs);
    while (std::chrono::steady_clock::now() < giveUp && agent_.Wait(10) == -1) {
      if (ReadFile(Log()).find(text) != std::string::npos) return true;
    }
    return ReadFile(Log()).find(text) != std::string::npos;
  }

  void Signal(const std::string& name) {
    auto event = platform::Event::Open(name);
    ASSERT_NE(event, nullptr) << name;
    event->Set();
  }

  void TearDown() override {
    ASSERT_TRUE(agent_.RequestTermination());
    EXPECT_EQ(agent_.Wait(kGuardMs), 0);
    for (const char* line : {"Received shutdown event...", "ModletStart exited"}) {
      EXPECT_NE(ReadFile(Log()).find(line), std::string::npos) << ReadFile(Log());
    }
  }

  platform::testing::ScopedSandbox sandbox_{"alice"};
  platform::ChildProcess agent_;
};

TEST_F(AgentLoopTest, TheScheduledLoopWakesOnItsEventsFromOtherProcesses) {
  ASSERT_TRUE(WaitForLog("IsInNoltcmdAlone")) << ReadFile(Log());
  // Nothing is scheduled yet, so the first cycle runs at once; let it end first.
  ASSERT_TRUE(WaitForLog("Next Sync Time is updated to")) << ReadFile(Log());
  const std::string job = "{6F1C2A50-0000-4000-8000-000000000001}";
  Run({"bin/noltcmd", "/bitsjobwakeup", "\"BITS_JOB_EVENT_prov_alice\"", job});
  EXPECT_TRUE(WaitForLog("Received bits job event...")) << ReadFile(Log());
  Signal("MODLET_PRUNE_prov_alice");
  EXPECT_TRUE(WaitForLog("Received prune event...")) << ReadFile(Log());
  Run({"bin/noltcmd", "/bitsjobwakeup", "BITS_JOB_UPLOAD_EVENT_prov_alice", job});
  EXPECT_TRUE(WaitForLog("Received bits job Upload event...")) << ReadFile(Log());
}

// Started beside the service (whose instance mutex the test holds from before the agent
// starts: SetUp runs the tools first, the mutex is made in the constructor).
class AgentBesideTheServiceTest : public AgentLoopTest {
 protected:
  std::unique_ptr<platform::Mutex> instance_ =
      platform::Mutex::Create("Global\\__noltsvc__prov", true);
};

TEST_F(AgentBesideTheServiceTest, TheAgentWaitsForTheServicesSignal) {
  ASSERT_NE(instance_, nullptr);
  ASSERT_TRUE(WaitForLog("IsInNoltCmdWithNoltsvcRunning")) << ReadFile(Log());
  ASSERT_TRUE(WaitForLog("Going to sleep with TO of -1 sec.")) << ReadFile(Log());
  EXPECT_EQ(ReadFile(Log()).find("Update process starts"), std::string::npos);
  Signal("Global\\NOLTCMD_SYNC_EVENT_prov_alice");
  EXPECT_TRUE(WaitForLog("Received sync notification event from noltsvc..."));
  EXPECT_TRUE(WaitForLog("Update process ends")) << ReadFile(Log());
}

}  // namespace
