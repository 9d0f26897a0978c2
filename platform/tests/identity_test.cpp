// Computer name, logged-on users, the machine's addresses, GUIDs, the loopback TCP helper, and
// file times, calendar fields, the zone's bias and locale formatting.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
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

TEST(IdentityTest, SessionFileGivesOneNameALineWithEmptyLinesKept) {
  platform::testing::ScopedSandbox sandbox;
  fs::create_directories(fs::path(sandbox.Root()) / "machine");
  std::ofstream(platform::SessionListPath(), std::ios::binary) << "alice\n\nbob\r\ncarol";
  std::vector<std::string> names = {"stale"};
  ASSERT_TRUE(platform::LoggedOnUserNames(names));
  EXPECT_EQ(names, (std::vector<std::string>{"alice", "", "bob", "carol"}));
  fs::remove(platform::SessionListPath());
  fs::create_directories(platform::SessionListPath());  // a path that is not a file
  EXPECT_FALSE(platform::LoggedOnUserNames(names));
}

TEST(IdentityTest, ShortComputerNameOnlyNonLoopbackIpv4AddressesAndAFreeLoopbackPort) {
  EXPECT_FALSE(platform::ComputerName().empty());
  EXPECT_EQ(platform::ComputerName().find('.'), std::string::npos);
  std::istringstream list(platform::LocalIpv4AddressList());
  for (std::string address; std::getline(list, address, ';');) {
    in_addr parsed{};
    EXPECT_EQ(inet_pton(AF_INET, address.c_str(), &parsed), 1) << address;
    EXPECT_NE(address.rfind("127.", 0), 0u) << address;
  }
  const int port = platform::FreeLoopbackTcpPort();
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{AF_INET, htons(static_cast<uint16_t>(port)), {htonl(INADDR_LOOPBACK)}, {}};
  EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0) << port;
  close(fd);
}

TEST(IdentityTest, NewGuidsAreRandomVersion4AndOnlyWellFormedBracedTextReadsBack) {
  std::set<std::string> seen;
  for (int i = 0; i < 100; ++i) {
    platform::Guid guid;
    ASSERT_TRUE(platform::NewGuid(guid));
    EXPECT_EQ(guid.data3 >> 12, 4);
    EXPECT_EQ(guid.data4[0] & 0xC0, 0x80);
    seen.insert(platform::GuidToString(guid));
  }
  EXPECT_EQ(seen.size(), 100u);
  // The text form is braced upper case and reads back in either case.
  platform::Guid guid{0x0123ABCD, 0x4567, 0x89EF, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}};
  EXPECT_EQ(platform::GuidToString(guid), "{0123ABCD-4567-89EF-0123-456789ABCDEF}");
  platform::Guid back;
  ASSERT_TRUE(platform::GuidFromString("{0123abcd-4567-89ef-0123-456789abcdef}", back));
  EXPECT_EQ(back, guid);
  EXPECT_TRUE(platform::GuidFromString(platform::NewGuidString(), back));
  for (const char* text :
       {"0123ABCD-4567-89EF-0123-456789ABCDEF", "{0123ABCD-4567-89EF-0123-456789ABCDEG}",
        "{0123ABCD_4567-89EF-0123-456789ABCDEF}"}) {
    platform::Guid out = back;
    EXPECT_FALSE(platform::GuidFromString(text, out)) << text;
    EXPECT_EQ(out, back);  // left as it was
  }
}

uint64_t FileTimeOf(uint16_t year, uint16_t month, uint16_t day, uint16_t hour = 0,
                    uint16_t minute = 0, uint16_t second = 0) {
  uint64_t fileTime = 0;
  EXPECT_TRUE(
      platform::CalendarToFileTime({year, month, 0, day, hour, minute, second, 0}, fileTime));
  return fileTime;
}

TEST(CalendarTest, EveryDayRoundTripsWeekdaysAdvanceAndInvalidFieldsFail) {
  constexpr uint64_t kDayTicks = 864000000000ULL;
  EXPECT_EQ(FileTimeOf(1970, 1, 1), platform::kFileTimeUnixEpoch);
  EXPECT_EQ(platform::HttpDate(FileTimeOf(1994, 11, 6, 8, 49, 37)),
            "Sun, 06 Nov 1994 08:49:37 GMT");
  CalendarTime previous;
  ASSERT_TRUE(platform::FileTimeToCalendar(0, previous));
  EXPECT_EQ(previous.dayOfWeek, 1);              // 1601-01-01 was a Monday
  for (uint64_t day = 1; day < 300000; ++day) {  // into the 24th century
    CalendarTime fields;
    ASSERT_TRUE(platform::FileTimeToCalendar(day * kDayTicks + 1234567, fields));
    ASSERT_EQ(fields.dayOfWeek, (previous.dayOfWeek + 1) % 7);
    ASSERT_EQ(fields.milliseconds, 123);
    uint64_t back = 0;
    ASSERT_TRUE(platform::CalendarToFileTime(fields, back));
    ASSERT_EQ(back, day * kDayTicks + 1230000);
    previous = fields;
  }
  uint64_t fileTime = 0;
  for (const CalendarTime& fields :
       {CalendarTime{2023, 2, 0, 29, 0, 0, 0, 0},  // no leap year
        CalendarTime{1600, 12, 0, 31, 0, 0, 0, 0}, CalendarTime{2024, 1, 0, 1, 24, 0, 0, 0}}) {
    EXPECT_FALSE(platform::CalendarToFileTime(fields, fileTime)) << fields.year;
  }
  EXPECT_TRUE(platform::CalendarToFileTime({2024, 2, 0, 29, 0, 0, 0, 0}, fileTime));
  EXPECT_FALSE(platform::FileTimeToCalendar(UINT64_MAX, previous));
}

// The platform reads the zone afresh on every call.
class TimeZoneTest : public ::testing::Test {
 protected:
  void TearDown() override {
    SetEnvironment("TZ", "");
    SetEnvironment("LC_ALL", "");
    platform::InstallClock(nullptr);
  }
};

TEST_F(TimeZoneTest, LocalTimeFollowsTheZoneAtThatInstantWhileTheBiasIsTheStandardOffset) {
  const uint64_t winter = FileTimeOf(2026, 1, 15, 12);
  const uint64_t summer = FileTimeOf(2026, 7, 15, 12);
  const struct {
    const char* zone;
    int64_t winterHours;  // UTC minus local
    int64_t summerHours;
    int32_t bias;  // minutes
  } zones[] = {{"EST5EDT,M3.2.0,M11.1.0", 5, 4, 300},
               {"UTC0", 0, 0, 0},
               {"AEST-10AEDT,M10.1.0,M4.1.0/3", -11, -10, -600},
               {"<+0530>-5:30", 0, 0, -330}};
  for (const auto& z : zones) {
    SetEnvironment("TZ", z.zone);
    uint64_t local = 0;
    int32_t bias = 1;
    if (z.bias % 60 == 0) {
      ASSERT_TRUE(platform::FileTimeToLocal(winter, local));
      EXPECT_EQ(static_cast<int64_t>(winter - local), z.winterHours * 36000000000) << z.zone;
      ASSERT_TRUE(platform::FileTimeToLocal(summer, local));
      EXPECT_EQ(static_cast<int64_t>(summer - local), z.summerHours * 36000000000) << z.zone;
    }
    ASSERT_TRUE(platform::TimeZoneBias(bias));
    EXPECT_EQ(bias, z.bias) << z.zone;
  }
  // In the summer of the current clock's year, daylight saving time is still not part of it.
  SetEnvironment("TZ", "EST5EDT,M3.2.0,M11.1.0");
  platform::DrivenClock clock(summer);
  platform::InstallClock(&clock);
  int32_t bias = 0;
  ASSERT_TRUE(platform::TimeZoneBias(bias));
  EXPECT_EQ(bias, 300);
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
