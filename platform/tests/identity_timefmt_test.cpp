// File times, calendar fields, the zone's bias and locale formatting.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "platform/clock.h"
#include "platform/timefmt.h"
#include "scoped_sandbox.h"

namespace {

using platform::CalendarTime;
using platform::testing::SetEnvironment;

constexpr uint64_t kDayTicks = 864000000000ULL;

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

TEST(CalendarTest, KnownInstants) {
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
}

TEST(CalendarTest, EveryDayRoundTripsAndWeekdaysAdvance) {
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
}

TEST(CalendarTest, InvalidFieldsAndFarFutureFail) {
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

TEST_F(TimeZoneTest, LocalTimeFollowsTheZoneAtThatInstant) {
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
}

TEST_F(TimeZoneTest, BiasIsTheStandardOffsetInEitherHemisphere) {
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
}

TEST_F(TimeZoneTest, BiasUsesTheYearOfTheCurrentClock) {
  SetZone("EST5EDT,M3.2.0,M11.1.0");
  platform::DrivenClock clock(FileTimeOf(2026, 7, 1, 12));
  platform::InstallClock(&clock);
  EXPECT_EQ(platform::FileTimeNow(), FileTimeOf(2026, 7, 1, 12));
  int32_t bias = 0;
  ASSERT_TRUE(platform::TimeZoneBias(bias));
  EXPECT_EQ(bias, 300);  // daylight saving time is not part of the bias
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

TEST(HttpDateTest, EnglishRfc1123Form) {
  EXPECT_EQ(platform::HttpDate(FileTimeOf(2026, 12, 1, 10, 0, 0)), "Tue, 01 Dec 2026 10:00:00 GMT");
  EXPECT_EQ(platform::HttpDate(FileTimeOf(1994, 11, 6, 8, 49, 37)),
            "Sun, 06 Nov 1994 08:49:37 GMT");
}

}  // namespace
