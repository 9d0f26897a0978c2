// The command agent runs the real plug-in in a sandbox, and other processes wake its loop
// through each of its events.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/child_process.h"
#include "platform/sync.h"
#include "build_tree_files.h"
#include "scoped_sandbox.h"

namespace {

constexpr uint32_t kGuardMs = 20000;  // a failure guard, never a pause
constexpr uint32_t kPollMs = 10;
constexpr const char* kUserKey = "HKCU\\SOFTWARE\\Strovane\\ProviderList\\prov\\users\\alice";
constexpr const char* kServiceKey = "HKLM\\SOFTWARE\\Strovane\\ProviderList\\prov\\users\\SYSTEM";



// The current time as the hex text of a stored time (file time, then a zero bias).
std::string HexTimeNow() {
  using namespace std::chrono;
  const auto unixTicks =
      duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count() / 100;
  constexpr long long kEpochDifferenceTicks = 11644473600LL * 10000000LL;
  char text[32];
  std::snprintf(text, sizeof text, "%016llx%03x",
                static_cast<unsigned long long>(unixTicks + kEpochDifferenceTicks), 0u);
  return text;
}

class AgentLoopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A valid server for the user, and no prune pending, so the loop wakes only when told.
    Registry({"add", kUserKey, "-v", "prov", "-d", "http://127.0.0.1:9/tidesync/", "-f"});
    Registry({"add", kUserKey, "-v", "PruneOfflineMask", "-d", "op", "-f"});
  }

  std::string LogPath() const { return sandbox_.Root() + "/agent.log"; }
  std::vector<std::pair<std::string, std::string>> Environment() const {
    return {{"NOLT_ROOT", sandbox_.Root()}, {"NOLT_USER", "alice"}};
  }

  void Registry(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), BuildPath("bin/noltreg"));
    platform::ChildProcess tool;
    ASSERT_TRUE(tool.Start(arguments, Environment(), sandbox_.Root() + "/noltreg.out"));
    ASSERT_EQ(tool.Wait(kGuardMs), 0) << ReadFile(sandbox_.Root() + "/noltreg.out");
  }

  void StartAgent() {
    ASSERT_TRUE(agent_.Start({BuildPath("bin/noltcmd"), "--provider", "prov", "--log", LogPath()},
                             Environment()));
  }

  // Reads the log between short waits on the agent's exit until the text shows up.
  bool WaitForLog(const std::string& text) {
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::milliseconds(kGuardMs);
    while (std::chrono::steady_clock::now() < giveUp) {
      if (ReadFile(LogPath()).find(text) != std::string::npos) return true;
      if (agent_.Wait(kPollMs) != -1) break;  // the agent ended
    }
    return ReadFile(LogPath()).find(text) != std::string::npos;
  }

  // Runs "noltcmd /bitsjobwakeup EVENT JOBID" as the transfer service would.
  void Wakeup(const std::string& eventArgument) {
    platform::ChildProcess waker;
    ASSERT_TRUE(waker.Start({BuildPath("bin/noltcmd"), "/bitsjobwakeup", eventArgument,
                             "{6F1C2A50-0000-4000-8000-000000000001}"},
                            Environment()));
    EXPECT_EQ(waker.Wait(kGuardMs), 0);
  }

  void StopAgent() {
    ASSERT_TRUE(agent_.RequestTermination());
    EXPECT_EQ(agent_.Wait(kGuardMs), 0);
    const std::string log = ReadFile(LogPath());
    EXPECT_NE(log.find("Received shutdown event..."), std::string::npos) << log;
    EXPECT_NE(log.find("ModletStart exited"), std::string::npos) << log;
  }

  platform::testing::ScopedSandbox sandbox_{"alice"};
  platform::ChildProcess agent_;
};

TEST_F(AgentLoopTest, TheScheduledLoopWakesOnItsEventsFromOtherProcesses) {
  StartAgent();
  ASSERT_TRUE(WaitForLog("IsInNoltcmdAlone")) << ReadFile(LogPath());
  ASSERT_TRUE(WaitForLog("Created bits job Upload event - BITS_JOB_UPLOAD_EVENT_prov_alice"));
  // Nothing is scheduled yet, so the first cycle runs at once; let it end first.
  ASSERT_TRUE(WaitForLog("Next Sync Time is updated to")) << ReadFile(LogPath());

  Wakeup("\"BITS_JOB_EVENT_prov_alice\"");
  EXPECT_TRUE(WaitForLog("Received bits job event...")) << ReadFile(LogPath());

  auto prune = platform::Event::Open("MODLET_PRUNE_prov_alice");
  ASSERT_NE(prune, nullptr);
  prune->Set();
  EXPECT_TRUE(WaitForLog("Received prune event...")) << ReadFile(LogPath());

  Wakeup("BITS_JOB_UPLOAD_EVENT_prov_alice");
  EXPECT_TRUE(WaitForLog("Received bits job Upload event...")) << ReadFile(LogPath());
  StopAgent();
}

TEST_F(AgentLoopTest, BesideTheServiceTheAgentWaitsForTheServicesSignal) {
  auto instance = platform::Mutex::Create("Global\\__noltsvc__prov", true);
  ASSERT_NE(instance, nullptr);
  StartAgent();
  ASSERT_TRUE(WaitForLog("IsInNoltCmdWithNoltsvcRunning")) << ReadFile(LogPath());
  ASSERT_TRUE(WaitForLog("Going to sleep with TO of -1 sec.")) << ReadFile(LogPath());
  EXPECT_EQ(ReadFile(LogPath()).find("Update process starts"), std::string::npos);

  auto notification = platform::Event::Open("Global\\NOLTCMD_SYNC_EVENT_prov_alice");
  ASSERT_NE(notification, nullptr);
  notification->Set();
  EXPECT_TRUE(WaitForLog("Received sync notification event from noltsvc..."));
  EXPECT_TRUE(WaitForLog("Update process ends")) << ReadFile(LogPath());
  StopAgent();
}

TEST_F(AgentLoopTest, BesideTheServiceANewerServiceAttemptSyncsAtOnce) {
  Registry({"add", kServiceKey, "-v", "LastAttemptUpdateTimeHex", "-d", HexTimeNow(), "-f"});
  auto instance = platform::Mutex::Create("Global\\__noltsvc__prov", true);
  ASSERT_NE(instance, nullptr);
  StartAgent();
  EXPECT_TRUE(WaitForLog("Received sync notification event from noltsvc..."))
      << ReadFile(LogPath());
  EXPECT_TRUE(WaitForLog("Update process ends")) << ReadFile(LogPath());
  StopAgent();
}

}  // namespace
