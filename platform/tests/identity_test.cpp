// Computer name, logged-on users and the machine's addresses.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/identity.h"
#include "platform/network.h"
#include "scoped_sandbox.h"

namespace {

namespace fs = std::filesystem;

class LoggedOnUsersTest : public ::testing::Test {
 protected:
  void WriteSessions(const std::string& content) {
    fs::create_directories(fs::path(sandbox_.Root()) / "machine");
    std::ofstream(platform::SessionListPath(), std::ios::binary) << content;
  }
  platform::testing::ScopedSandbox sandbox_;
};

TEST_F(LoggedOnUsersTest, SessionFileGivesOneNameALineWithEmptyLinesKept) {
  WriteSessions("alice\n\nbob\r\ncarol");
  std::vector<std::string> names = {"stale"};
  ASSERT_TRUE(platform::LoggedOnUserNames(names));
  EXPECT_EQ(names, (std::vector<std::string>{"alice", "", "bob", "carol"}));
}

TEST_F(LoggedOnUsersTest, SessionPathThatIsNotAFileFails) {
  fs::create_directories(platform::SessionListPath());
  std::vector<std::string> names;
  EXPECT_FALSE(platform::LoggedOnUserNames(names));
}

TEST(IdentityTest, ComputerNameIsTheShortHostName) {
  std::string name = platform::ComputerName();
  EXPECT_FALSE(name.empty());
  EXPECT_EQ(name.find('.'), std::string::npos);
}

TEST(IdentityTest, AddressListHoldsOnlyNonLoopbackIpv4Addresses) {
  std::string list = platform::LocalIpv4AddressList();
  size_t start = 0;
  while (!list.empty() && start <= list.size()) {
    size_t end = list.find(';', start);
    if (end == std::string::npos) end = list.size();
    std::string address = list.substr(start, end - start);
    in_addr parsed{};
    EXPECT_EQ(inet_pton(AF_INET, address.c_str(), &parsed), 1) << address;
    EXPECT_NE(address.rfind("127.", 0), 0u) << address;
    start = end + 1;
  }
}

}  // namespace
