// Time as the engine sees it: file times (100-nanosecond intervals since 1601-01-01 UTC),
// calendar fields, local time and the time-zone bias from the system's zone data, and names and
// numbers formatted for a locale without touching the process-wide locale.
#pragma once
#include <cstdint>
#include <string>

namespace platform {

// Calendar fields of one instant, as Windows' SYSTEMTIME holds them (month 1-12, day of week
// 0 = Sunday).
struct CalendarTime {
  uint16_t year = 0;
  uint16_t month = 0;
  uint16_t dayOfWeek = 0;
  uint16_t day = 0;
  uint16_t hour = 0;
  uint16_t minute = 0;
  uint16_t second = 0;
  uint16_t milliseconds = 0;
};

inline constexpr uint64_t kFileTimeTicksPerSecond = 10000000ULL;
// File time of 1970-01-01 00:00:00 UTC.
inline constexpr uint64_t kFileTimeUnixEpoch = 116444736000000000ULL;

// The current UTC file time, read from the clock in force (clock.h).
uint64_t FileTimeNow();

// Calendar fields of a file time (dayOfWeek filled in); false beyond the year 30827.
bool FileTimeToCalendar(uint64_t fileTime, CalendarTime& out);
// The file time of calendar fields (dayOfWeek ignored); false for fields out of range or a year
// before 1601.
bool CalendarToFileTime(const CalendarTime& in, uint64_t& fileTime);

// UTC file time to local file time with the zone's offset at that instant; false when the zone
// data cannot place it.
bool FileTimeToLocal(uint64_t utcFileTime, uint64_t& localFileTime);

// The time zone's standard bias in minutes (UTC = local + bias; Windows' Bias field, daylight
// saving not included). False when the zone data cannot be read.
bool TimeZoneBias(int32_t& biasMinutes);

// Formats calendar fields with a strftime format (%a, %A, %b, %B, %x, %X, ...) in the user's
// LC_TIME locale, or in English when `english` is set.
std::string FormatCalendar(const CalendarTime& time, const char* strftimeFormat, bool english);

// The HTTP date of a UTC file time: "Tue, 01 Dec 2026 10:00:00 GMT".
std::string HttpDate(uint64_t utcFileTime);

}  // namespace platform
