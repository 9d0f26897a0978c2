// The user name of the context, the system account and the logged-on users.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "foundation/users/users.h"
#include "platform/identity.h"
#include "platform/messages.h"
#include "platform/registry.h"
#include "registry_store_identity.h"
#include "scoped_sandbox.h"
#include "trace_capture.h"

namespace {

class UsersTest : public ::testing::Test {
 protected:
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
    const bool result = TuGetUserName(buffer.data(), size);
    if (fitted != nullptr) *fitted = result;
    return buffer.data();
  }

  platform::testing::ScopedSandbox sandbox_{"alice"};
  ScopedStoreIdentity identity_{"prov", ""};
};

TEST_F(UsersTest, UserIdTypeChoosesTheNameWhichIsCutToTheBufferAndTraced) {
  TraceCapture trace;
  EXPECT_EQ(UserName(), "alice");
  char expected[64];
  std::snprintf(expected, sizeof expected, "TuGetUserName[%x]: userName = alice\n",
                platform::CurrentThreadId());
  EXPECT_EQ(trace.Text(), expected);
  // The directory services' names are not available and fall back to the system account.
  for (const auto& [method, name] : std::vector<std::pair<uint32_t, const char*>>{
           {1, "SYSTEM"}, {2, "SYSTEM"}, {3, "SYSTEM"}, {4, "alice"}, {0xFFFFFFFF, "alice"}}) {
    SetUserIdType(method);
    EXPECT_EQ(UserName(), name) << method;
  }
  SetUserIdType(1);
  ScopedStoreIdentity::Current().providerId = "";  // without a provider: the process user
  EXPECT_EQ(UserName(), "alice");
  for (const auto& [size, name, fits] : std::vector<std::tuple<size_t, const char*, bool>>{
           {3, "al", false}, {5, "alic", false}, {6, "alice", true}}) {
    bool fitted = !fits;
    EXPECT_EQ(UserName(size, &fitted), name);
    EXPECT_EQ(fitted, fits) << size;
  }
  EXPECT_FALSE(TuGetUserName(nullptr, 0));
  platform::testing::SetEnvironment("NOLT_USER", "SYSTEM");  // a service: its own account
  EXPECT_EQ(UserName(), "SYSTEM");
}

TEST_F(UsersTest, TheServicesSessionComesFirstAndAnUnreadableListGivesNone) {
  std::filesystem::create_directories(sandbox_.Root() + "/machine");
  for (const auto& [sessions, names] : std::vector<std::pair<const char*, std::vector<HxStr>>>{
           {"", {""}}, {"alice\n\nbob\n", {"", "alice", "", "bob"}}}) {
    std::ofstream(platform::SessionListPath()) << sessions;
    TraceCapture trace;
    std::vector<HxStr> listed = {"stale"};
    EXPECT_EQ(GetLoggedOnUserNames(listed), names.size());
    EXPECT_EQ(listed, names);
    std::string lines;
    for (const HxStr& name : names)
      lines += "Succeeded to query user name (" + name + ") from session\n";
    EXPECT_EQ(trace.Text(), lines);
  }
  std::filesystem::remove(platform::SessionListPath());
  std::filesystem::create_directories(platform::SessionListPath());
  TraceCapture trace;
  std::vector<HxStr> names = {"stale"};
  EXPECT_EQ(GetLoggedOnUserNames(names), 0u);
  EXPECT_TRUE(names.empty());
  EXPECT_EQ(trace.Text(),
            "Failed to call WTSEnumerateSessions(), 5\nFailed, EnumerateSessions()\n");
}

}  // namespace
