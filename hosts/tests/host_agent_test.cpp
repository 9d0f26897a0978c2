// The host agents run as processes, as an operator or the service manager starts them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "platform/child_process.h"
#include "platform/sync.h"
#include "build_tree_files.h"
#include "scoped_sandbox.h"

namespace {

constexpr uint32_t kGuardMs = 20000;  // a failure guard, never a pause

class HostAgentTest : public ::testing::Test {
 protected:
  std::string LogPath() const { return sandbox_.Root() + "/host.log"; }

  bool StartHost(const std::string& host, std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), BuildPath("bin/" + host));
    return child_.Start(arguments, {{"NOLT_ROOT", sandbox_.Root()}, {"NOLT_USER", "alice"}},
                        LogPath());
  }
  std::vector<std::string> WithFake(const std::string& provider) {
    return {"--provider", provider, "--plugin", BuildPath("lib/libfake_modlet.so"), "--log",
            LogPath()};
  }
  // Starts the host with the fake plug-in, waits until it started, asks the host to end and
  // expects it to exit 0; returns the host's log.
  std::string RunUntilStartedThenTerminate(const std::string& host, const std::string& provider,
                                           const std::function<void()>& whileRunning = {}) {
    auto started = platform::Event::Create("FAKE_STARTED_" + provider, false, false);
    EXPECT_TRUE(StartHost(host, WithFake(provider)));
    EXPECT_EQ(platform::WaitForOne(*started, kGuardMs), platform::kWaitObject0);
    if (whileRunning) whileRunning();
    EXPECT_TRUE(child_.RequestTermination());
    EXPECT_EQ(child_.Wait(kGuardMs), 0);
    return ReadFile(LogPath());
  }

  platform::testing::ScopedSandbox sandbox_{"alice"};
  platform::ChildProcess child_;
};

TEST_F(HostAgentTest, TerminationStopsThePluginAndTheHostExitsZero) {
  const std::string log = RunUntilStartedThenTerminate("noltcmd", "wait");
  EXPECT_NE(log.find("fake context wait for alice"), std::string::npos) << log;
  EXPECT_NE(log.find("Termination requested"), std::string::npos) << log;
  EXPECT_NE(log.find("fake stop"), std::string::npos) << log;
  std::regex stamped(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} INFO   fake start running)");
  EXPECT_TRUE(std::regex_search(log, stamped)) << log;
  EXPECT_NE(log.find("ModletStart returned for provider wait with state 6"), std::string::npos);
}

TEST_F(HostAgentTest, ReportsTheNotifyMessageAndTheNewDataEvent) {
  const std::string log = RunUntilStartedThenTerminate("noltcmd", "notify");
  EXPECT_NE(log.find("MODLET_MSG_NOTIFY received: kind=100 name=Tidesync"), std::string::npos)
      << log;
  EXPECT_NE(log.find("provider=notify"), std::string::npos) << log;
  EXPECT_NE(log.find("New-data event fired: MODLET_SYNC_NEW_DATA_notify"), std::string::npos)
      << log;
}

TEST_F(HostAgentTest, AStartThatEndsInStateMinusOneExitsOne) {
  ASSERT_TRUE(StartHost("noltcmd", WithFake("fail")));
  EXPECT_EQ(child_.Wait(kGuardMs), 1);
  EXPECT_NE(ReadFile(LogPath()).find("ERROR  fake start fails"), std::string::npos);
}

TEST_F(HostAgentTest, TheServiceHoldsItsInstanceMutexWhileServing) {
  const std::string log = RunUntilStartedThenTerminate("noltsvc", "wait", [] {
    auto instance = platform::Mutex::Open("Global\\__noltsvc__wait");
    ASSERT_NE(instance, nullptr);
    EXPECT_EQ(platform::WaitForOne(*instance, 0), platform::kWaitTimeout);
  });
  EXPECT_NE(log.find("fake context wait for SYSTEM"), std::string::npos) << log;
}

TEST_F(HostAgentTest, ThirtyOneProvidersAreServedAndAThirtySecondIsRefused) {
  std::vector<std::string> arguments{"--plugin", BuildPath("lib/libfake_modlet.so"), "--log",
                                     LogPath()};
  std::vector<std::unique_ptr<platform::Event>> started;
  for (int i = 0; i < 32; ++i) {
    const std::string provider = "p" + std::to_string(i);
    arguments.insert(arguments.end(), {"--provider", provider});
    started.push_back(platform::Event::Create("FAKE_STARTED_" + provider, false, false));
  }
  platform::ChildProcess refused;
  std::vector<std::string> command{BuildPath("bin/noltsvc")};
  command.insert(command.end(), arguments.begin(), arguments.end());
  const std::string refusal = sandbox_.Root() + "/refused.log";
  ASSERT_TRUE(refused.Start(command, {{"NOLT_ROOT", sandbox_.Root()}}, refusal));
  EXPECT_EQ(refused.Wait(kGuardMs), 1);
  EXPECT_NE(ReadFile(refusal).find("noltsvc: at most 31 providers"), std::string::npos);

  arguments.resize(arguments.size() - 2);
  ASSERT_TRUE(StartHost("noltsvc", arguments));
  for (int i = 0; i < 31; ++i) {
    EXPECT_EQ(platform::WaitForOne(*started[i], kGuardMs), platform::kWaitObject0) << i;
  }
  EXPECT_TRUE(child_.RequestTermination());
  EXPECT_EQ(child_.Wait(kGuardMs), 0) << ReadFile(LogPath());
}

TEST_F(HostAgentTest, BitsJobWakeupSignalsTheNamedEvent) {
  std::string name = "BITS_JOB_EVENT_prov_alice";
  ASSERT_TRUE(child_.Start({BuildPath("bin/noltcmd"), "/bitsjobwakeup", "\"" + name + "\"",
                            "{00000000-0000-0000-0000-000000000001}"},
                           {{"NOLT_ROOT", sandbox_.Root()}}));
  // Nothing holds the event yet: the command fails.
  EXPECT_EQ(child_.Wait(kGuardMs), 1);

  auto event = platform::Event::Create(name, false, false);
  platform::ChildProcess waker;
  ASSERT_TRUE(waker.Start({BuildPath("bin/noltcmd"), "/bitsjobwakeup", name, "{job}"},
                          {{"NOLT_ROOT", sandbox_.Root()}}));
  EXPECT_EQ(platform::WaitForOne(*event, kGuardMs), platform::kWaitObject0);
  EXPECT_EQ(waker.Wait(kGuardMs), 0);
}

}  // namespace
