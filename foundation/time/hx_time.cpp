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

// The local calendar fields of a time; false when it cannot be converted.
bool LocalFields(const HxTime& time, platform::CalendarTime& fields) {
  uint64_t local = 0;
  return platform::FileTimeToLocal(time.FileTime(), local) &&
         platform::FileTimeToCalendar(local, fields);
}

// Flags are not interpreted: every caller asks for the default (short) form or gives a picture.
HxStr FormatLocal(const HxTime& time, const char* picture, uint32_t locale, PictureKind kind) {
  platform::CalendarTime fields;
  if (!LocalFields(time, fields)) return HxStr();
  const bool english = locale == HxTime::kLocaleEnglishUs;
  if (picture != nullptr && *picture != '\0') {
    return HxStr(FormatPicture(fields, picture, kind, english));
  }
  if (english) {
    return HxStr(
        FormatPicture(fields, kind == PictureKind::Date ? "M/d/yyyy" : "h:mm:ss tt", kind, true));
  }
  return HxStr(platform::FormatCalendar(fields, kind == PictureKind::Date ? "%x" : "%X", false));
}

}  // namespace

HxStr HxTime::FormatDate(const HxTime& time, uint32_t /*flags*/, const char* picture,
                         uint32_t locale) {
  return FormatLocal(time, picture, locale, PictureKind::Date);
}

HxStr HxTime::FormatTime(const HxTime& time, uint32_t /*flags*/, const char* picture,
                         uint32_t locale) {
  return FormatLocal(time, picture, locale, PictureKind::Time);
}

HxStr HxTime::Readable() const {
  return FormatDate(*this, 0, nullptr, kLocaleUserDefault) + " " +
         FormatTime(*this, 0, nullptr, kLocaleUserDefault);
}
