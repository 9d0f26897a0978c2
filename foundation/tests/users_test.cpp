// The user name of the context, the system account and the logged-on users.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "foundation/registry/provider_store.h"
#include "foundation/users/users.h"
#include "platform/identity.h"
#include "platform/messages.h"
#include "registry_store_identity.h"
#include "scoped_sandbox.h"
#include "trace_capture.h"

namespace {

class UsersTest : public ::testing::Test {
 protected:
  // Sets "UserIdType" in the provider's "General" key.
  static void SetUserIdType(uint32_t method) {
    platform::RegistryKey key;
    ASSERT_EQ(
        key.Create(platform::kHkeyLocalMachine, "SOFTWARE\\Strovane\\ProviderList\\prov\\General",
                   platform::kKeyAllAccess),
        0u);
    ASSERT_EQ(key.SetDword("UserIdType", method), 0u);
  }
  static std::string UserName(size_t size = 260, bool* fitted = nullptr) {
    std::vector<char> buffer(size + 1, 'x');
    bool result = TuGetUserName(buffer.data(), size);
    if (fitted != nullptr) *fitted = result;
    return buffer.data();
  }

  platform::testing::ScopedSandbox sandbox_{"alice"};
  ScopedStoreIdentity identity_{"prov", ""};
};

TEST_F(UsersTest, EachMethodOfUserIdTypeTracedWithAndWithoutAProviderOrAsAService) {
  TraceCapture trace;
  bool fitted = false;
  EXPECT_EQ(UserName(260, &fitted), "alice");
  EXPECT_TRUE(fitted);
  char expected[64];
  std::snprintf(expected, sizeof expected, "TuGetUserName[%x]: userName = alice\n",
                platform::CurrentThreadId());
  EXPECT_EQ(trace.Text(), expected);

  struct Case {
    uint32_t method;
    const char* name;
  };
  // The directory services' names are not available and fall back to the system account.
  for (const Case& c : {Case{0, "alice"}, Case{1, "SYSTEM"}, Case{2, "SYSTEM"}, Case{3, "SYSTEM"},
                        Case{4, "alice"}, Case{0xFFFFFFFF, "alice"}}) {
    SetUserIdType(c.method);
    EXPECT_EQ(UserName(), c.name) << c.method;
  }
  ScopedStoreIdentity::Current().providerId = "";  // without a provider: the process user
  SetUserIdType(1);
  EXPECT_EQ(UserName(), "alice");
  // A service process yields its own account name.
  platform::testing::SetEnvironment("NOLT_USER", "SYSTEM");
  EXPECT_EQ(UserName(), "SYSTEM");
}

TEST_F(UsersTest, ANameThatDoesNotFitIsCutAndTheSystemAccountNameIsKnown) {
  bool fitted = true;
  EXPECT_EQ(UserName(3, &fitted), "al");
  EXPECT_FALSE(fitted);
  EXPECT_EQ(UserName(6, &fitted), "alice");
  EXPECT_TRUE(fitted);
  EXPECT_FALSE(TuGetUserName(nullptr, 0));

  EXPECT_EQ(GetSystemAccountName(), "SYSTEM");
  EXPECT_TRUE(IsSystemAccountName("system"));
  EXPECT_TRUE(IsSystemAccountName("SYSTEM"));
  EXPECT_FALSE(IsSystemAccountName("SYSTEMS"));
  EXPECT_FALSE(IsSystemAccountName(""));
  EXPECT_TRUE(IsTerminalServer());
}

TEST_F(UsersTest, LoggedOnUsersFromTheSessionListOrNoneWhenItCannotBeRead) {
  std::filesystem::create_directories(sandbox_.Root() + "/machine");
  std::ofstream(platform::SessionListPath()) << "\nalice\nbob\n";
  TraceCapture trace;
  std::vector<HxStr> names = {"stale"};
  ASSERT_EQ(GetLoggedOnUserNames(names), 3u);
  EXPECT_EQ(names, (std::vector<HxStr>{"", "alice", "bob"}));
  EXPECT_EQ(trace.Text(),
            "Succeeded to query user name () from session\n"
            "Succeeded to query user name (alice) from session\n"
            "Succeeded to query user name (bob) from session\n");

  // An unreadable session list gives no names.
  std::filesystem::remove(platform::SessionListPath());
  std::filesystem::create_directories(platform::SessionListPath());
  TraceCapture failure;
  names = {"stale"};
  EXPECT_EQ(GetLoggedOnUserNames(names), 0u);
  EXPECT_TRUE(names.empty());
  EXPECT_EQ(failure.Text(),
            "Failed to call WTSEnumerateSessions(), 5\n"
            "Failed, EnumerateSessions()\n");
}

}  // namespace
