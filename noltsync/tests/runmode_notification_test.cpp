// NotifyNoltcmdSync in process: the thread message to the host, the sync events of the command
// agents of every logged-on user when it runs in the service, and the host's new-data event.
// Also the dispatch's table of run modes, row by row.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <string>

#include "engine_test_fixture.h"
#include "noltsync/entry/modlet_api.h"
#include "noltsync/entry/modlet_context.h"
#include "noltsync/runmode/host_notification.h"
#include "noltsync/runmode/run_context.h"
#include "noltsync/runmode/run_mode_dispatch.h"
#include "platform/identity.h"
#include "platform/messages.h"
#include "platform/sync.h"

namespace {

constexpr const char* kEventPrefix = "Global\\NOLTCMD_SYNC_EVENT_prov_";
constexpr const char* kNewDataEvent = "MODLET_SYNC_NEW_DATA_prov_SYSTEM";
constexpr intptr_t kRecordAddress = 0x5A5A1000;

class NotifyTest : public EngineTest {
 protected:
  NotifyTest() {
    context_.providerId = kProvider;
    context_.userId = "SYSTEM";
    platform::EnsureMessageQueue();
    SetMasterThreadId(platform::CurrentThreadId());
    newData_ = platform::Event::Create(kNewDataEvent, false, false);
  }
  ~NotifyTest() override { SetMasterThreadId(0); }

  void RunIn(bool service) {
    context_.runContext = std::make_unique<RunContext>(service, service, !service, false, false,
                                                       service ? "SYSTEM" : "alice", kProvider);
  }
  // The users logged on to the machine, one a line.
  static void LogOn(const std::vector<std::string>& users) {
    std::ofstream sessions(platform::SessionListPath());
    for (const std::string& user : users) sessions << user << "\n";
  }
  // The handle logged for a user's sync event; -1 when no line names it.
  static int LoggedEventHandle(const std::string& user) {
    std::regex line("NotifyNoltcmdSync: send sync notification event to noltcmd, event "
                    "name=Global\\\\NOLTCMD_SYNC_EVENT_prov_" +
                    user + ", handle=(\\d+)\n");
    for (const CapturedLogLine& logged : Log()) {
      std::smatch match;
      if (logged.level == 1 && std::regex_match(logged.text, match, line)) {
        return std::stoi(match[1]);
      }
    }
    return -1;
  }
  static bool Signalled(platform::Event& event) {
    return platform::WaitForOne(event, 0) == platform::kWaitObject0;
  }
  static bool MessageWaiting(platform::ThreadMessage& message) {
    return platform::PeekThreadMessage(message, true);
  }

  ModletContext context_;
  std::unique_ptr<platform::Event> newData_;
};

TEST_F(NotifyTest, TheServiceOpensOneEventPerLoggedOnUserAndSignalsTheOneThatExists) {
  RunIn(true);
  LogOn({"alice", "bob", "carol"});
  auto bobsAgent = platform::Event::Create(std::string(kEventPrefix) + "bob", false, false);
  NotifyNoltcmdSync(context_, false, 0);
  // The three users and the services' session, which has no user.
  EXPECT_EQ(CountLogged("NotifyNoltcmdSync: send sync notification event"), 4);
  EXPECT_EQ(LoggedEventHandle(""), 0);
  EXPECT_EQ(LoggedEventHandle("alice"), 0);
  EXPECT_GT(LoggedEventHandle("bob"), 0);
  EXPECT_EQ(LoggedEventHandle("carol"), 0);
  EXPECT_TRUE(Signalled(*bobsAgent));
  EXPECT_FALSE(Signalled(*newData_));  // no new data
  platform::ThreadMessage message;
  EXPECT_FALSE(MessageWaiting(message));
}

TEST_F(NotifyTest, NewDataWithoutAnArgumentPostsNothingButSignalsTheNewDataEvent) {
  RunIn(true);
  LogOn({"alice"});
  NotifyNoltcmdSync(context_, true, 0);
  platform::ThreadMessage message;
  EXPECT_FALSE(MessageWaiting(message));
  EXPECT_EQ(CountLogged("Posting Message"), 0);
  EXPECT_EQ(LoggedEventHandle("alice"), 0);
  EXPECT_TRUE(Signalled(*newData_));
}

TEST_F(NotifyTest, NewDataWithAnArgumentPostsTheNotifyMessageToTheMasterThread) {
  RunIn(false);
  NotifyNoltcmdSync(context_, true, kRecordAddress);
  EXPECT_TRUE(Logged("Posting Message: MODLET_MSG_NOTIFY to NOLTCMD. Thread Id: " +
                         std::to_string(static_cast<int>(platform::CurrentThreadId())) + "..\n",
                     1));
  platform::ThreadMessage message;
  ASSERT_TRUE(MessageWaiting(message));
  EXPECT_EQ(message.message, 0x433u);
  EXPECT_EQ(message.wParam, 0u);
  EXPECT_EQ(message.lParam, kRecordAddress);
  EXPECT_FALSE(MessageWaiting(message));
  EXPECT_TRUE(Signalled(*newData_));
  // Only the service wakes the command agents.
  EXPECT_EQ(CountLogged("NotifyNoltcmdSync:"), 0);
}

TEST_F(NotifyTest, NobodyLoggedOnIsNoFailure) {
  RunIn(true);
  LogOn({});
  NotifyNoltcmdSync(context_, true, 0);
  EXPECT_EQ(CountLogged("NotifyNoltcmdSync: Failed to query user name"), 0);
  EXPECT_TRUE(Signalled(*newData_));
}

TEST_F(NotifyTest, AServiceThatCannotListTheUsersStopsBeforeTheNewDataEvent) {
  RunIn(true);
  std::filesystem::create_directories(platform::SessionListPath());  // unreadable as a list
  NotifyNoltcmdSync(context_, true, 0);
  EXPECT_TRUE(Logged("NotifyNoltcmdSync: Failed to query user name\n", 1));
  EXPECT_FALSE(Signalled(*newData_));
}

// The dispatch's rows: the first that matches wins.
class RunModeRowsTest : public EngineTest {
 protected:
  static RunMode Detect(bool system, bool service, bool agent, bool up, bool simulate) {
    return DetermineRunMode(RunContext(system, service, agent, up, simulate, "u", kProvider));
  }
};

TEST_F(RunModeRowsTest, EachRowLogsItsLineAndTheFirstMatchWins) {
  EXPECT_EQ(Detect(false, false, true, true, true), RunMode::kSimulate);
  EXPECT_TRUE(Logged("IsInNoltSimulate mode\n", 1));
  EXPECT_EQ(Detect(false, false, true, false, false), RunMode::kCommandAgentAlone);
  EXPECT_TRUE(Logged("IsInNoltcmdAlone\n", 1));
  EXPECT_EQ(Detect(true, true, true, true, false), RunMode::kCommandAgentWithService);
  EXPECT_TRUE(Logged("IsInNoltCmdWithNoltsvcRunning\n", 1));
  EXPECT_EQ(Detect(true, true, false, true, true), RunMode::kService);  // simulate: agent only
  EXPECT_TRUE(Logged("IsInNoltsvcService\n", 1));
  EXPECT_EQ(Detect(false, true, false, true, false), RunMode::kUndetermined);
  EXPECT_TRUE(Logged("Could not determine runtext context: IsSys=0 InCmd=0 InSvc=1 SvcUp=1\n", 8));
  EXPECT_EQ(CountLogged("Is"), 4);
}

}  // namespace
