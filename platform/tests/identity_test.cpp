// Computer name, logged-on users, the machine's addresses, GUIDs (random, version 4, braced
// text), the loopback TCP helpers (a free port really is free, and the probe tells a listening
// port from a closed one), and file times, calendar fields, the zone's bias and locale formatting.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/guid.h"
#include "platform/identity.h"
#include "platform/network.h"
#include "platform/timefmt.h"
#include "scoped_sandbox.h"

namespace {

namespace fs = std::filesystem;
using platform::CalendarTime;
using platform::testing::SetEnvironment;

constexpr uint64_t kDayTicks = 864000000000ULL;

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
  fs::remove(platform::SessionListPath());
  fs::create_directories(platform::SessionListPath());  // a path that is not a file
  EXPECT_FALSE(platform::LoggedOnUserNames(names));
}

TEST(IdentityTest, ShortComputerNameAndOnlyNonLoopbackIpv4Addresses) {
  std::string name = platform::ComputerName();
  EXPECT_FALSE(name.empty());
  EXPECT_EQ(name.find('.'), std::string::npos);
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

TEST(GuidTest, NewGuidsAreRandomVersion4AndTheirBracedTextReadsBack) {
  std::set<std::string> seen;
  for (int i = 0; i < 100; ++i) {
    platform::Guid guid;
    ASSERT_TRUE(platform::NewGuid(guid));
    EXPECT_EQ(guid.data3 >> 12, 4);
    EXPECT_EQ(guid.data4[0] & 0xC0, 0x80);
    seen.insert(platform::GuidToString(guid));
  }
  EXPECT_EQ(seen.size(), 100u);

  // The text form is braced upper case and reads back.
  platform::Guid guid{0x0123ABCD, 0x4567, 0x89EF, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}};
  EXPECT_EQ(platform::GuidToString(guid), "{0123ABCD-4567-89EF-0123-456789ABCDEF}");
  platform::Guid back;
  ASSERT_TRUE(platform::GuidFromString("{0123abcd-4567-89ef-0123-456789abcdef}", back));
  EXPECT_EQ(back, guid);
  std::string fresh = platform::NewGuidString();
  EXPECT_EQ(fresh.size(), 38u);
  EXPECT_TRUE(platform::GuidFromString(fresh, back));
}

TEST(GuidTest, MalformedTextIsRejectedAndLeavesTheOutput) {
  const platform::Guid untouched{7, 7, 7, {7, 7, 7, 7, 7, 7, 7, 7}};
  for (const char* text :
       {"0123ABCD-4567-89EF-0123-456789ABCDEF", "{0123ABCD-4567-89EF-0123-456789ABCDEG}",
        "{0123ABCD_4567-89EF-0123-456789ABCDEF}"}) {
    platform::Guid out = untouched;
    EXPECT_FALSE(platform::GuidFromString(text, out)) << text;
    EXPECT_EQ(out, untouched);
  }
}

// A listening socket on 127.0.0.1:port; -1 when it could not be bound.
int Listen(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(fd, 4) != 0) {
    if (fd >= 0) close(fd);
    return -1;
  }
  return fd;
}

TEST(LoopbackTcpTest, AFreePortCanBeBound) {
  const int port = platform::FreeLoopbackTcpPort();
  ASSERT_GT(port, 0);
  const int listener = Listen(port);
  EXPECT_GE(listener, 0) << "the free port could not be bound";
  if (listener >= 0) close(listener);
}

// Sets TZ (and English LC_TIME) for one test; the platform reads the zone afresh on every call.
class TimeZoneTest : public ::testing::Test {
 protected:
  void TearDown() override {
    SetEnvironment("TZ", "");
    SetEnvironment("LC_ALL", "");
  }
  void SetZone(const char* zone) { SetEnvironment("TZ", zone); }
};

uint64_t FileTimeOf(uint16_t year, uint16_t month, uint16_t day, uint16_t hour = 0,
                    uint16_t minute = 0, uint16_t second = 0) {
  uint64_t fileTime = 0;
  EXPECT_TRUE(
      platform::CalendarToFileTime({year, month, 0, day, hour, minute, second, 0}, fileTime));
  return fileTime;
}

TEST(CalendarTest, KnownInstantsAndTheirHttpDate) {
  EXPECT_EQ(FileTimeOf(1601, 1, 1), 0u);
  EXPECT_EQ(FileTimeOf(1970, 1, 1), platform::kFileTimeUnixEpoch);
  CalendarTime fields;
  ASSERT_TRUE(platform::FileTimeToCalendar(FileTimeOf(2026, 12, 1, 10, 0, 0) + 1234567, fields));
  EXPECT_EQ(fields.year, 2026);
  EXPECT_EQ(fields.month, 12);
  EXPECT_EQ(fields.day, 1);
  EXPECT_EQ(fields.dayOfWeek, 2);  // Tuesday
  EXPECT_EQ(fields.hour, 10);
  EXPECT_EQ(fields.milliseconds, 123);
  EXPECT_EQ(platform::HttpDate(FileTimeOf(1994, 11, 6, 8, 49, 37)),
            "Sun, 06 Nov 1994 08:49:37 GMT");
}

TEST(CalendarTest, EveryDayRoundTripsWeekdaysAdvanceAndInvalidFieldsFail) {
  CalendarTime previous;
  ASSERT_TRUE(platform::FileTimeToCalendar(0, previous));
  EXPECT_EQ(previous.dayOfWeek, 1);              // 1601-01-01 was a Monday
  for (uint64_t day = 1; day < 300000; ++day) {  // into the 24th century
    CalendarTime fields;
    ASSERT_TRUE(platform::FileTimeToCalendar(day * kDayTicks + 3, fields));
    ASSERT_EQ(fields.dayOfWeek, (previous.dayOfWeek + 1) % 7);
    uint64_t back = 0;
    ASSERT_TRUE(platform::CalendarToFileTime(fields, back));
    ASSERT_EQ(back, day * kDayTicks);
    previous = fields;
  }

  uint64_t fileTime = 0;
  CalendarTime fields;
  fields = {2023, 2, 0, 29, 0, 0, 0, 0};  // not a leap year
  EXPECT_FALSE(platform::CalendarToFileTime(fields, fileTime));
  fields = {2024, 2, 0, 29, 0, 0, 0, 0};
  EXPECT_TRUE(platform::CalendarToFileTime(fields, fileTime));
  fields = {1600, 12, 0, 31, 0, 0, 0, 0};
  EXPECT_FALSE(platform::CalendarToFileTime(fields, fileTime));
  fields = {2024, 1, 0, 1, 24, 0, 0, 0};
  EXPECT_FALSE(platform::CalendarToFileTime(fields, fileTime));
  EXPECT_FALSE(platform::FileTimeToCalendar(UINT64_MAX, fields));
}

TEST_F(TimeZoneTest, LocalTimeFollowsTheZoneAtThatInstantWhileTheBiasIsTheStandardOffset) {
  SetZone("EST5EDT,M3.2.0,M11.1.0");
  uint64_t local = 0;
  const uint64_t winter = FileTimeOf(2026, 1, 15, 12);
  ASSERT_TRUE(platform::FileTimeToLocal(winter, local));
  EXPECT_EQ(winter - local, 5 * 3600 * platform::kFileTimeTicksPerSecond);
  const uint64_t summer = FileTimeOf(2026, 7, 15, 12);
  ASSERT_TRUE(platform::FileTimeToLocal(summer, local));
  EXPECT_EQ(summer - local, 4 * 3600 * platform::kFileTimeTicksPerSecond);
  SetZone("UTC0");
  ASSERT_TRUE(platform::FileTimeToLocal(summer, local));
  EXPECT_EQ(local, summer);

  int32_t bias = 0;
  SetZone("EST5EDT,M3.2.0,M11.1.0");
  ASSERT_TRUE(platform::TimeZoneBias(bias));
  EXPECT_EQ(bias, 300);
  SetZone("AEST-10AEDT,M10.1.0,M4.1.0/3");
  ASSERT_TRUE(platform::TimeZoneBias(bias));
  EXPECT_EQ(bias, -600);
  SetZone("<+0530>-5:30");
  ASSERT_TRUE(platform::TimeZoneBias(bias));
  EXPECT_EQ(bias, -330);
  // In the summer of the current clock's year, daylight saving time is still not part of it.
  SetZone("EST5EDT,M3.2.0,M11.1.0");
  platform::DrivenClock clock(FileTimeOf(2026, 7, 1, 12));
  platform::InstallClock(&clock);
  EXPECT_EQ(platform::FileTimeNow(), FileTimeOf(2026, 7, 1, 12));
  ASSERT_TRUE(platform::TimeZoneBias(bias));
  EXPECT_EQ(bias, 300);
  platform::InstallClock(nullptr);
}

TEST_F(TimeZoneTest, EnglishAndUserLocaleFormatting) {
  CalendarTime fields;
  ASSERT_TRUE(platform::FileTimeToCalendar(FileTimeOf(2026, 12, 1, 10, 0, 0), fields));
  EXPECT_EQ(platform::FormatCalendar(fields, "%A %a %B %b", true), "Tuesday Tue December Dec");
  SetEnvironment("LC_ALL", "C");
  EXPECT_EQ(platform::FormatCalendar(fields, "%x %X", false), "12/01/26 10:00:00");
  SetEnvironment("LC_ALL", "no_such_LOCALE");  // falls back to the C locale
  EXPECT_EQ(platform::FormatCalendar(fields, "%x", false), "12/01/26");
  EXPECT_EQ(platform::FormatCalendar(fields, "", false), "");
}

}  // namespace
