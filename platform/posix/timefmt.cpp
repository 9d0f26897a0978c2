#include "platform/timefmt.h"

#include <locale.h>
#include <time.h>

#include <vector>

#include "platform/clock.h"

namespace platform {
namespace {

constexpr int64_t kSecondsPerDay = 86400;
// Days from 1601-01-01 to 1970-01-01.
constexpr int64_t kUnixEpochDays = 134774;
constexpr uint16_t kLastYear = 30827;  // the last year a calendar time can hold

// Days since 1970-01-01 of a proleptic Gregorian date, and back (H. Hinnant's algorithms).
int64_t DaysFromCivil(int64_t year, unsigned month, unsigned day) {
  year -= month <= 2 ? 1 : 0;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const unsigned yearOfEra = static_cast<unsigned>(year - era * 400);
  const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + static_cast<int64_t>(dayOfEra) - 719468;
}

void CivilFromDays(int64_t days, int64_t& year, unsigned& month, unsigned& day) {
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const unsigned dayOfEra = static_cast<unsigned>(days - era * 146097);
  const unsigned yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const unsigned monthIndex = (5 * dayOfYear + 2) / 153;
  day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
  month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
  year = static_cast<int64_t>(yearOfEra) + era * 400 + (month <= 2 ? 1 : 0);
}

unsigned DaysInMonth(unsigned year, unsigned month) {
  static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

// Seconds since 1970 of a file time (negative before 1970).
int64_t UnixSeconds(uint64_t fileTime) {
  return static_cast<int64_t>(fileTime / kFileTimeTicksPerSecond) -
         static_cast<int64_t>(kFileTimeUnixEpoch / kFileTimeTicksPerSecond);
}

// The zone's offset east of UTC, in seconds, at a moment. The zone is read afresh each time
// (tzset), so a change of TZ or of the system's zone is seen at once.
bool OffsetAt(int64_t unixSeconds, long& offset) {
  tzset();
  const time_t moment = static_cast<time_t>(unixSeconds);
  tm local{};
  if (localtime_r(&moment, &local) == nullptr) return false;
  offset = local.tm_gmtoff;
  return true;
}

// The LC_TIME locale for formatting: the user's (from the environment), or English; "C" when
// the user's cannot be loaded.
locale_t NewTimeLocale(bool english) {
  locale_t locale =
      english ? static_cast<locale_t>(0) : newlocale(LC_TIME_MASK, "", static_cast<locale_t>(0));
  if (locale == static_cast<locale_t>(0)) {
    locale = newlocale(LC_TIME_MASK, "C", static_cast<locale_t>(0));
  }
  return locale;
}

}  // namespace

uint64_t FileTimeNow() { return CurrentClock().FileTimeNow(); }

bool FileTimeToCalendar(uint64_t fileTime, CalendarTime& out) {
  const int64_t totalSeconds = static_cast<int64_t>(fileTime / kFileTimeTicksPerSecond);
  const int64_t days = totalSeconds / kSecondsPerDay;
  const int64_t secondOfDay = totalSeconds % kSecondsPerDay;
  int64_t year = 0;
  unsigned month = 0;
  unsigned day = 0;
  CivilFromDays(days - kUnixEpochDays, year, month, day);
  if (year > kLastYear) return false;
  out.year = static_cast<uint16_t>(year);
  out.month = static_cast<uint16_t>(month);
  out.day = static_cast<uint16_t>(day);
  out.dayOfWeek = static_cast<uint16_t>((days + 1) % 7);  // 1601-01-01 was a Monday
  out.hour = static_cast<uint16_t>(secondOfDay / 3600);
  out.minute = static_cast<uint16_t>(secondOfDay / 60 % 60);
  out.second = static_cast<uint16_t>(secondOfDay % 60);
  out.milliseconds = static_cast<uint16_t>(fileTime % kFileTimeTicksPerSecond / 10000);
  return true;
}

bool CalendarToFileTime(const CalendarTime& in, uint64_t& fileTime) {
  if (in.year < 1601 || in.year > kLastYear || in.month < 1 || in.month > 12 || in.day < 1 ||
      in.day > DaysInMonth(in.year, in.month) || in.hour > 23 || in.minute > 59 || in.second > 59 ||
      in.milliseconds > 999) {
    return false;
  }
  const int64_t days = DaysFromCivil(in.year, in.month, in.day) + kUnixEpochDays;
  const int64_t seconds = days * kSecondsPerDay + in.hour * 3600 + in.minute * 60 + in.second;
  fileTime = static_cast<uint64_t>(seconds) * kFileTimeTicksPerSecond +
             static_cast<uint64_t>(in.milliseconds) * 10000;
  return true;
}

bool FileTimeToLocal(uint64_t utcFileTime, uint64_t& localFileTime) {
  long offset = 0;
  if (!OffsetAt(UnixSeconds(utcFileTime), offset)) return false;
  const int64_t shift =
      static_cast<int64_t>(offset) * static_cast<int64_t>(kFileTimeTicksPerSecond);
  if (shift < 0 && utcFileTime < static_cast<uint64_t>(-shift)) return false;
  localFileTime = static_cast<uint64_t>(static_cast<int64_t>(utcFileTime) + shift);
  return true;
}

bool TimeZoneBias(int32_t& biasMinutes) {
  // The standard offset is the smaller of midwinter's and midsummer's in either hemisphere.
  CalendarTime now;
  if (!FileTimeToCalendar(FileTimeNow(), now)) return false;
  const int64_t january = DaysFromCivil(now.year, 1, 1) * kSecondsPerDay + 43200;
  const int64_t july = DaysFromCivil(now.year, 7, 1) * kSecondsPerDay + 43200;
  long winter = 0;
  long summer = 0;
  if (!OffsetAt(january, winter) || !OffsetAt(july, summer)) return false;
  biasMinutes = static_cast<int32_t>(-(winter < summer ? winter : summer) / 60);
  return true;
}

std::string FormatCalendar(const CalendarTime& time, const char* strftimeFormat, bool english) {
  if (strftimeFormat == nullptr || *strftimeFormat == '\0') return {};
  tm fields{};
  fields.tm_year = time.year - 1900;
  fields.tm_mon = time.month - 1;
  fields.tm_mday = time.day;
  fields.tm_wday = time.dayOfWeek % 7;
  fields.tm_yday = static_cast<int>(DaysFromCivil(time.year, time.month, time.day) -
                                    DaysFromCivil(time.year, 1, 1));
  fields.tm_hour = time.hour;
  fields.tm_min = time.minute;
  fields.tm_sec = time.second;
  fields.tm_isdst = -1;
  locale_t locale = NewTimeLocale(english);
  if (locale == static_cast<locale_t>(0)) return {};
  // strftime_l gives 0 both for an empty result and for one that does not fit.
  std::vector<char> buffer;
  std::string result;
  for (size_t capacity = 128; capacity <= 8192; capacity *= 4) {
    buffer.resize(capacity);
    size_t length = strftime_l(buffer.data(), buffer.size(), strftimeFormat, &fields, locale);
    if (length > 0) {
      result.assign(buffer.data(), length);
      break;
    }
  }
  freelocale(locale);
  return result;
}

std::string HttpDate(uint64_t utcFileTime) {
  CalendarTime fields;
  if (!FileTimeToCalendar(utcFileTime, fields)) return {};
  return FormatCalendar(fields, "%a, %d %b %Y %H:%M:%S GMT", true);
}

}  // namespace platform
