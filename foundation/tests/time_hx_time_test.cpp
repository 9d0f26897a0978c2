// HxTime: the hex text, spans, calendar construction and date and time pictures.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "foundation/time/hx_time.h"
#include "platform/clock.h"
#include "scoped_sandbox.h"

namespace {

using platform::testing::SetEnvironment;

constexpr const char* kEastern = "EST5EDT,M3.2.0,M11.1.0";

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

TEST_F(HxTimeTest, HexTextReadsBackBadTextGivesZeroAndSpansAddUp) {
  EXPECT_EQ(HxTime(0, 0).ToHex(), "0000000000000000000");
  HxStr eastern = HxTime(0x01DB123456789ABCULL, 300).ToHex();
  EXPECT_EQ(eastern, "01db123456789abc12c");
  EXPECT_EQ(HxTime(1, -60).ToHex(), "0000000000000001ffffffc4");
  // Without a bias the zone's standard bias is written, in summer too.
  SetEnvironment("TZ", kEastern);
  EXPECT_EQ(Utc(2026, 7, 1, 12, 0, 0).ToHex().Mid(16, 19), "12c");

  HxTime time("01db123456789abc12c");
  EXPECT_EQ(time.FileTime(), 0x01DB123456789ABCULL);
  EXPECT_EQ(time.Bias(), 300);
  // Three digits of a negative bias come back as they are: carried along, never used.
  HxTime negative("0000000000000001ffffffc4");
  EXPECT_EQ(negative.FileTime(), 1u);
  EXPECT_EQ(negative.Bias(), 0xfff);
  HxTime timeOnly("00000000000000ff");
  EXPECT_EQ(timeOnly.FileTime(), 0xFFu);
  EXPECT_EQ(timeOnly.Bias(), HxTime::kBiasNotSet);
  // Text that does not scan leaves the zero time.
  for (const char* text : {"", "zz", "-", "  "}) {
    HxTime scanned(5, 5);
    EXPECT_FALSE(scanned.FromHex(text)) << text;
    EXPECT_TRUE(scanned.IsZero());
    EXPECT_EQ(scanned.Bias(), HxTime::kBiasNotSet);
  }
  HxTime fromNull(nullptr);
  EXPECT_TRUE(fromNull.IsZero());

  EXPECT_EQ(HxTime::Span(1, 0, 0, 0), 864000000000LL);
  EXPECT_EQ(HxTime::Span(0, 1, 1, 1), 36610000000LL);
  const int64_t span = 900000000000LL;
  EXPECT_EQ(HxTime::Days(span), 1);
  EXPECT_EQ(HxTime::Hours(span), 1);
  EXPECT_EQ(HxTime::Minutes(span), 0);
  EXPECT_EQ(HxTime::Seconds(span), 0);
  const int64_t mixed = HxTime::Span(3, 23, 59, 58) + 9999999;
  EXPECT_EQ(HxTime::Days(mixed), 3);
  EXPECT_EQ(HxTime::Hours(mixed), 23);
  EXPECT_EQ(HxTime::Minutes(mixed), 59);
  EXPECT_EQ(HxTime::Seconds(mixed), 58);

  HxTime start(1000000000ULL, 300);
  HxTime later = start.Add(HxTime::Span(0, 2, 0, 0));
  EXPECT_EQ(later.Bias(), HxTime::kBiasNotSet);
  EXPECT_EQ(later.Difference(start), HxTime::Span(0, 2, 0, 0));
  EXPECT_EQ(start.Difference(later), -HxTime::Span(0, 2, 0, 0));
  EXPECT_EQ(later.Add(-HxTime::Span(0, 2, 0, 0)).FileTime(), start.FileTime());
}

TEST_F(HxTimeTest, CalendarConstructionNowAndLocal) {
  EXPECT_EQ(Utc(1970, 1, 1, 0, 0, 0).FileTime(), platform::kFileTimeUnixEpoch);
  EXPECT_TRUE(Utc(2026, 2, 30, 0, 0, 0).IsZero());
  platform::DrivenClock clock(0x01DC000000000000ULL);
  platform::InstallClock(&clock);
  clock.Advance(1500);
  HxTime now = HxTime::Now();
  EXPECT_EQ(now.FileTime(), 0x01DC000000000000ULL + 15000000ULL);
  EXPECT_EQ(now.Bias(), HxTime::kBiasNotSet);
  SetEnvironment("TZ", kEastern);
  HxTime noon = Utc(2026, 1, 15, 17, 0, 0);
  EXPECT_EQ(noon.Difference(noon.ToLocal()), HxTime::Span(0, 5, 0, 0));
}

TEST_F(HxTimeTest, HttpDatePicturesAreEnglishInLocalTime) {
  SetEnvironment("LC_ALL", "");
  HxTime time = Utc(2026, 12, 1, 10, 0, 0);
  const uint32_t english = HxTime::kLocaleEnglishUs;
  EXPECT_EQ(HxTime::FormatDate(time, 0, "ddd',' dd MMM yyyy ", english), "Tue, 01 Dec 2026 ");
  EXPECT_EQ(HxTime::FormatTime(time, 0, "HH':'mm':'ss 'GMT'", english), "10:00:00 GMT");
  // The time is turned into local time first, as the date functions do.
  SetEnvironment("TZ", kEastern);
  EXPECT_EQ(HxTime::FormatTime(time, 0, "HH':'mm':'ss 'GMT'", english), "05:00:00 GMT");
}

TEST_F(HxTimeTest, PictureFieldsAndDefaultFormsOfTheShortDateAndTime) {
  const HxTime time = Utc(2007, 3, 4, 13, 5, 9);
  const uint32_t english = HxTime::kLocaleEnglishUs;
  EXPECT_EQ(HxTime::FormatDate(time, 0, "yyyyMMdd", english), "20070304");
  EXPECT_EQ(HxTime::FormatTime(time, 0, "hhmmss", english), "010509");
  EXPECT_EQ(HxTime::FormatDate(time, 0, "d/M/y yy dddd MMMM", english), "4/3/7 07 Sunday March");
  EXPECT_EQ(HxTime::FormatTime(time, 0, "h:m:s H t tt", english), "1:5:9 13 P PM");
  // Quotes, a doubled quote, and letters of the other kind are copied.
  EXPECT_EQ(HxTime::FormatTime(time, 0, "h 'o''clock' d", english), "1 o'clock d");
  EXPECT_EQ(HxTime::FormatDate(time, 0, "'unterminated", english), "unterminated");
  EXPECT_EQ(HxTime::FormatTime(Utc(2007, 3, 4, 0, 0, 0), 0, "hh tt", english), "12 AM");

  // Without a picture: the short date and time.
  HxTime fixed = Utc(2026, 12, 1, 10, 0, 0);
  EXPECT_EQ(HxTime::FormatDate(fixed, 0, nullptr, HxTime::kLocaleEnglishUs), "12/1/2026");
  EXPECT_EQ(HxTime::FormatTime(fixed, 0, nullptr, HxTime::kLocaleEnglishUs), "10:00:00 AM");
  EXPECT_EQ(HxTime::FormatDate(fixed, 0, nullptr, HxTime::kLocaleUserDefault), "12/01/26");
  EXPECT_EQ(HxTime::FormatTime(fixed, 0, "", HxTime::kLocaleUserDefault), "10:00:00");
  EXPECT_EQ(fixed.Readable(), "12/01/26 10:00:00");
}

}  // namespace
