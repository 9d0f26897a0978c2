// HxTime: the hex text, spans, calendar construction, and dates and times formatted with
// pictures and flags.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "foundation/time/hx_time.h"
#include "platform/clock.h"
#include "scoped_sandbox.h"

namespace {

using platform::testing::SetEnvironment;

constexpr const char* kEastern = "EST5EDT,M3.2.0,M11.1.0";
constexpr uint32_t kEnglish = HxTime::kLocaleEnglishUs;
constexpr uint32_t kUser = HxTime::kLocaleUserDefault;

HxTime Utc(uint16_t year, uint16_t month, uint16_t day, uint16_t hour, uint16_t minute,
           uint16_t second) {
  return HxTime(platform::CalendarTime{year, month, 0, day, hour, minute, second, 0});
}

// Each test states its zone; the C locale makes the user's short forms known.
class HxTimeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetEnvironment("TZ", "UTC0");
    SetEnvironment("LC_ALL", "C");
  }
  void TearDown() override {
    SetEnvironment("TZ", "");
    SetEnvironment("LC_ALL", "");
  }
};

TEST_F(HxTimeTest, HexTextSpansCalendarConstructionNowAndLocal) {
  EXPECT_EQ(HxTime(0, 0).ToHex(), "0000000000000000000");
  EXPECT_EQ(HxTime(0x01DB123456789ABCULL, 300).ToHex(), "01db123456789abc12c");
  EXPECT_EQ(HxTime(1, -60).ToHex(), "0000000000000001ffffffc4");
  SetEnvironment("TZ", kEastern);  // without a bias: the zone's standard one, in summer too
  EXPECT_EQ(Utc(2026, 7, 1, 12, 0, 0).ToHex().Mid(16, 19), "12c");

  struct Case {
    const char* text;
    bool scans;
    uint64_t time;
    int32_t bias;
  };
  // Three digits of a negative bias come back as they are: carried along, never used.
  for (const Case& c :
       {Case{"01db123456789abc12c", true, 0x01DB123456789ABCULL, 300},
        Case{"0000000000000001ffffffc4", true, 1, 0xfff},
        Case{"00000000000000ff", true, 0xFF, HxTime::kBiasNotSet},
        Case{"", false, 0, HxTime::kBiasNotSet}, Case{"zz", false, 0, HxTime::kBiasNotSet}}) {
    HxTime scanned(5, 5);
    EXPECT_EQ(scanned.FromHex(c.text), c.scans) << c.text;
    EXPECT_EQ(scanned.FileTime(), c.time) << c.text;
    EXPECT_EQ(scanned.Bias(), c.bias) << c.text;
  }
  EXPECT_TRUE(HxTime(static_cast<const char*>(nullptr)).IsZero());

  EXPECT_EQ(HxTime::Span(1, 0, 0, 0), 864000000000LL);
  for (const auto& [span, parts] : std::vector<std::pair<int64_t, std::vector<int64_t>>>{
           {900000000000LL, {1, 1, 0, 0}},
           {HxTime::Span(3, 23, 59, 58) + 9999999, {3, 23, 59, 58}}}) {
    EXPECT_EQ((std::vector<int64_t>{HxTime::Days(span), HxTime::Hours(span), HxTime::Minutes(span),
                                    HxTime::Seconds(span)}),
              parts);
  }
  HxTime start(1000000000ULL, 300);
  HxTime later = start.Add(HxTime::Span(0, 2, 0, 0));
  EXPECT_EQ(later.Bias(), HxTime::kBiasNotSet);
  EXPECT_EQ(start.Difference(later), -HxTime::Span(0, 2, 0, 0));

  EXPECT_EQ(Utc(1970, 1, 1, 0, 0, 0).FileTime(), platform::kFileTimeUnixEpoch);
  EXPECT_TRUE(Utc(2026, 2, 30, 0, 0, 0).IsZero());
  platform::DrivenClock clock(0x01DC000000000000ULL);
  platform::InstallClock(&clock);
  clock.Advance(1500);
  EXPECT_EQ(HxTime::Now().FileTime(), 0x01DC000000000000ULL + 15000000ULL);
  platform::InstallClock(nullptr);
  SetEnvironment("TZ", kEastern);
  HxTime winter = Utc(2026, 1, 15, 17, 0, 0);
  EXPECT_EQ(winter.Difference(winter.ToLocal()), HxTime::Span(0, 5, 0, 0));
}

TEST_F(HxTimeTest, PicturesFlagsAndDefaultFormsInLocalTime) {
  const HxTime afternoon = Utc(2007, 3, 4, 13, 5, 9);
  const HxTime morning = Utc(2026, 12, 1, 10, 0, 0);
  struct Case {
    bool date;
    HxTime time;
    uint32_t flags;
    const char* picture;
    uint32_t locale;
    const char* expected;
  };
  const Case cases[] = {
      {true, morning, 0, "ddd',' dd MMM yyyy ", kEnglish, "Tue, 01 Dec 2026 "},
      {false, morning, 0, "HH':'mm':'ss 'GMT'", kEnglish, "10:00:00 GMT"},
      {true, afternoon, 0, "d/M/y yy dddd MMMM", kEnglish, "4/3/7 07 Sunday March"},
      {false, afternoon, 0, "h:m:s H t tt hhmmss", kEnglish, "1:5:9 13 P PM 010509"},
      // Quotes, a doubled quote, and letters of the other kind are copied.
      {false, afternoon, 0, "h 'o''clock' d", kEnglish, "1 o'clock d"},
      {true, afternoon, 0, "'unterminated", kEnglish, "unterminated"},
      {false, Utc(2007, 3, 4, 0, 0, 0), 0, "hh tt", kEnglish, "12 AM"},
      // Without a picture: the form the flags choose, short by default.
      {true, morning, 0, nullptr, kEnglish, "12/1/2026"},
      {true, morning, HxTime::kDateLongDate, nullptr, kEnglish, "Tuesday, December 1, 2026"},
      {true, morning, HxTime::kDateYearMonth, nullptr, kEnglish, "December 2026"},
      {true, morning, 0, nullptr, kUser, "12/01/26"},
      {false, afternoon, 0, nullptr, kEnglish, "1:05:09 PM"},
      {false, afternoon, 0, "", kUser, "13:05:09"},
      // The time flags leave fields out with the text before them, with a picture too.
      {false, afternoon, HxTime::kTimeNoSeconds, nullptr, kEnglish, "1:05 PM"},
      {false, afternoon, HxTime::kTimeNoMinutesOrSeconds, nullptr, kEnglish, "1 PM"},
      {false, afternoon, HxTime::kTimeNoTimeMarker, nullptr, kEnglish, "1:05:09"},
      {false, afternoon, HxTime::kTimeForce24HourFormat, "hh:mm tt", kEnglish, "13:05 PM"},
      {false, afternoon, HxTime::kTimeNoSeconds, "HH':'mm':'ss 'GMT'", kEnglish, "13:05 GMT"},
      {false, afternoon, HxTime::kTimeNoTimeMarker, "tt h", kEnglish, "1"},
      {false, afternoon, HxTime::kTimeNoSeconds, nullptr, kUser, "13:05"},
      // Flags that are unknown or do not go together give nothing.
      {true, morning, HxTime::kDateShortDate, "yyyy", kEnglish, ""},
      {true, morning, HxTime::kDateShortDate | HxTime::kDateLongDate, nullptr, kEnglish, ""},
      {true, morning, HxTime::kLocaleNoUserOverride, "yyyy", kEnglish, ""},
      {true, morning, 0x100, nullptr, kEnglish, ""},
      {false, morning, 0x10, nullptr, kEnglish, ""},
  };
  for (const Case& c : cases) {
    const HxStr text = c.date ? HxTime::FormatDate(c.time, c.flags, c.picture, c.locale)
                              : HxTime::FormatTime(c.time, c.flags, c.picture, c.locale);
    EXPECT_EQ(text, c.expected) << (c.picture ? c.picture : "(none)") << " flags " << c.flags;
  }
  EXPECT_EQ(morning.Readable(), "12/01/26 10:00:00");
  SetEnvironment("TZ", kEastern);  // turned into local time first
  EXPECT_EQ(HxTime::FormatTime(morning, 0, "HH':'mm", kEnglish), "05:00");
}

}  // namespace
