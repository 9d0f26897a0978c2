#include "foundation/time/hx_time.h"

#include <cinttypes>
#include <cstdio>
#include <string>

#include "foundation/time/time_picture.h"

HxTime::HxTime(const platform::CalendarTime& fields) {
  uint64_t fileTime = 0;
  if (platform::CalendarToFileTime(fields, fileTime)) m_time = fileTime;
}

HxTime::HxTime(const char* hex) { FromHex(hex); }

HxTime HxTime::Now() { return HxTime(platform::FileTimeNow()); }

HxTime HxTime::ToLocal() const {
  uint64_t local = 0;
  return platform::FileTimeToLocal(m_time, local) ? HxTime(local) : HxTime();
}

HxStr HxTime::ToHex() const {
  int32_t bias = m_bias;
  if (bias == kBiasNotSet && !platform::TimeZoneBias(bias)) bias = -1;
  char text[32];
  std::snprintf(text, sizeof text, "%016llx%03x", static_cast<unsigned long long>(m_time),
                static_cast<unsigned>(bias));
  return HxStr(text);
}

bool HxTime::FromHex(const char* hex) {
  m_time = 0;
  m_bias = kBiasNotSet;
  if (hex == nullptr) return false;
  unsigned long long time = 0;
  unsigned bias = 0;
  const int scanned = std::sscanf(hex, "%16llx%3x", &time, &bias);
  if (scanned < 1) return false;
  m_time = time;
  if (scanned == 2) m_bias = static_cast<int32_t>(bias);
  return true;
}

int64_t HxTime::Difference(const HxTime& other) const {
  return static_cast<int64_t>(m_time - other.m_time);
}

HxTime HxTime::Add(int64_t span) const { return HxTime(m_time + static_cast<uint64_t>(span)); }

int64_t HxTime::Span(int64_t days, int64_t hours, int64_t minutes, int64_t seconds) {
  return days * kDay + hours * kHour + minutes * kMinute + seconds * kSecond;
}

int64_t HxTime::Days(int64_t span) { return span / kDay; }
int64_t HxTime::Hours(int64_t span) { return span / kHour % 24; }
int64_t HxTime::Minutes(int64_t span) { return span / kMinute % 60; }
int64_t HxTime::Seconds(int64_t span) { return span / kSecond % 60; }

namespace {

constexpr uint32_t kDateForms = HxTime::kDateShortDate | HxTime::kDateLongDate |
                                HxTime::kDateYearMonth;
constexpr uint32_t kDateAlternativeCalendar = 0x4;
constexpr uint32_t kDateLeftToRight = 0x10;
constexpr uint32_t kDateRightToLeft = 0x20;
constexpr uint32_t kDateAutoLayout = 0x40;
constexpr uint32_t kLocaleUseAnsiCodePage = 0x40000000;
constexpr uint32_t kLocaleFlags = HxTime::kLocaleNoUserOverride | kLocaleUseAnsiCodePage;
// Flags that change nothing here: one calendar, one reading order, one code page.
constexpr uint32_t kKnownDateFlags = kDateForms | kDateAlternativeCalendar | kDateLeftToRight |
                                     kDateRightToLeft | kDateAutoLayout | kLocaleFlags;
constexpr uint32_t kKnownTimeFlags = HxTime::kTimeNoMinutesOrSeconds | HxTime::kTimeNoSeconds |
                                     HxTime::kTimeNoTimeMarker |
                                     HxTime::kTimeForce24HourFormat | kLocaleFlags;

bool HasPicture(const char* picture) { return picture != nullptr && *picture != '\0'; }

// The local calendar fields of a time; false when it cannot be converted.
bool LocalFields(const HxTime& time, platform::CalendarTime& fields) {
  uint64_t local = 0;
  return platform::FileTimeToLocal(time.FileTime(), local) &&
         platform::FileTimeToCalendar(local, fields);
}

bool DateFlagsValid(uint32_t flags, bool picture) {
  const uint32_t forms = flags & kDateForms;
  return (flags & ~kKnownDateFlags) == 0 && (forms & (forms - 1)) == 0 &&
         (flags & (kDateLeftToRight | kDateRightToLeft)) !=
             (kDateLeftToRight | kDateRightToLeft) &&
         !(picture && (forms != 0 || (flags & HxTime::kLocaleNoUserOverride) != 0));
}

bool TimeFlagsValid(uint32_t flags, bool picture) {
  return (flags & ~kKnownTimeFlags) == 0 &&
         !(picture && (flags & HxTime::kLocaleNoUserOverride) != 0);
}

}  // namespace

HxStr HxTime::FormatDate(const HxTime& time, uint32_t flags, const char* picture,
                         uint32_t locale) {
  platform::CalendarTime fields;
  if (!DateFlagsValid(flags, HasPicture(picture)) || !LocalFields(time, fields)) return HxStr();
  const bool english = locale == kLocaleEnglishUs;
  const char* form = picture;
  if (!HasPicture(picture)) {
    switch (flags & kDateForms) {
      case kDateLongDate:
        form = "dddd, MMMM d, yyyy";
        break;
      case kDateYearMonth:
        form = "MMMM yyyy";
        break;
      default:
        if (!english) return HxStr(platform::FormatCalendar(fields, "%x", false));
        form = "M/d/yyyy";
        break;
    }
  }
  return HxStr(FormatPicture(fields, form, PictureKind::Date, english));
}

HxStr HxTime::FormatTime(const HxTime& time, uint32_t flags, const char* picture,
                         uint32_t locale) {
  platform::CalendarTime fields;
  if (!TimeFlagsValid(flags, HasPicture(picture)) || !LocalFields(time, fields)) return HxStr();
  TimePictureOptions options;
  options.noMinutes = (flags & kTimeNoMinutesOrSeconds) != 0;
  options.noSeconds = (flags & kTimeNoSeconds) != 0;
  options.noMarker = (flags & kTimeNoTimeMarker) != 0;
  options.force24Hour = (flags & kTimeForce24HourFormat) != 0;
  const bool english = locale == kLocaleEnglishUs;
  if (HasPicture(picture)) {
    return HxStr(FormatPicture(fields, picture, PictureKind::Time, english, options));
  }
  if (english) return HxStr(FormatPicture(fields, "h:mm:ss tt", PictureKind::Time, true, options));
  if (!options.ChangesAnything()) return HxStr(platform::FormatCalendar(fields, "%X", false));
  const std::string form = UserShortTimePicture();
  return HxStr(FormatPicture(fields, form.c_str(), PictureKind::Time, false, options));
}

HxStr HxTime::Readable() const {
  return FormatDate(*this, 0, nullptr, kLocaleUserDefault) + " " +
         FormatTime(*this, 0, nullptr, kLocaleUserDefault);
}
