// NotifyNoltcmdSync in process: the thread message to the host, the sync events of the command
// agents of every logged-on user when it runs in the service, and the host's new-data event.
// (The dispatch's table of run modes is run by the host agents' processes.)
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <regex>
#include <string>

#include "engine_test_fixture.h"
#include "noltsync/entry/modlet_api.h"
#include "noltsync/entry/modlet_context.h"
#include "noltsync/runmode/host_notification.h"
#include "noltsync/runmode/run_context.h"
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

// In the service the sync event of every logged-on user's command agent (and of the services'
// session) is opened and signalled where it exists; new data signals the host's new-data event
// and, with a record, posts MODLET_MSG_NOTIFY to the master thread.
TEST_F(NotifyTest, EachCallerWakesWhomItShould) {
  auto bobsAgent = platform::Event::Create(std::string(kEventPrefix) + "bob", false, false);
  using Users = std::optional<std::vector<std::string>>;  // none: the list cannot be read
  const struct {
    bool service;
    Users users;
    bool newData;
    intptr_t record;
    int eventLines;
  } kCases[] = {
      {true, Users{{"alice", "bob", "carol"}}, false, 0, 4},
      {true, Users{{"alice"}}, true, 0, 2},
      {true, Users(std::vector<std::string>()), true, 0, 1},
      {false, Users{{"alice", "bob"}}, true, kRecordAddress, 0},
      {true, std::nullopt, true, 0, 0},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(::testing::Message() << "service " << c.service << ", users "
                                      << (c.users ? c.users->size() : -1));
    ClearLog();
    RunIn(c.service);
    std::filesystem::remove_all(platform::SessionListPath());
    if (c.users) LogOn(*c.users);
    if (!c.users) std::filesystem::create_directories(platform::SessionListPath());
    NotifyNoltcmdSync(context_, c.newData, c.record);

    EXPECT_EQ(CountLogged("NotifyNoltcmdSync: send sync notification event"), c.eventLines);
    EXPECT_EQ(Logged("NotifyNoltcmdSync: Failed to query user name\n", 1), !c.users);
    const bool bobWoken = c.service && c.eventLines == 4;
    EXPECT_EQ(LoggedEventHandle("bob") > 0, bobWoken);
    EXPECT_EQ(Signalled(*bobsAgent), bobWoken);
    for (const char* user : {"", "alice", "carol"}) EXPECT_LE(LoggedEventHandle(user), 0);
    EXPECT_EQ(Signalled(*newData_), c.newData && c.users);
    platform::ThreadMessage message;
    ASSERT_EQ(MessageWaiting(message), c.record != 0);
    EXPECT_EQ(CountLogged("Posting Message"), c.record != 0 ? 1 : 0);
    if (c.record != 0) {
      EXPECT_TRUE(Logged("Posting Message: MODLET_MSG_NOTIFY to NOLTCMD. Thread Id: " +
                             std::to_string(static_cast<int>(platform::CurrentThreadId())) +
                             "..\n",
                         1));
      EXPECT_EQ(message.message, 0x433u);
      EXPECT_EQ(message.wParam, 0u);
      EXPECT_EQ(message.lParam, kRecordAddress);
      EXPECT_FALSE(MessageWaiting(message));
    }
  }
}

}  // namespace
