// HxTime: a file time (100-nanosecond intervals since 1601-01-01 UTC) with a time-zone bias in
// minutes (UTC = local + bias; -1 when not set). Persisted as hex text: 16 hex digits of the
// time, then the bias in at least 3 (e.g. "01db00000000000012c").
#pragma once
#include <cstdint>

#include "foundation/strings/hx_str.h"
#include "platform/timefmt.h"

class HxTime {
 public:
  static constexpr int32_t kBiasNotSet = -1;

  // Locales of the date and time formatting.
  static constexpr uint32_t kLocaleUserDefault = 0x400;
  static constexpr uint32_t kLocaleSystemDefault = 0x800;
  static constexpr uint32_t kLocaleEnglishUs = 0x409;  // always English

  // Flags of FormatDate: one form when there is no picture (short by default).
  static constexpr uint32_t kDateShortDate = 0x1;
  static constexpr uint32_t kDateLongDate = 0x2;
  static constexpr uint32_t kDateYearMonth = 0x8;
  // Flags of FormatTime.
  static constexpr uint32_t kTimeNoMinutesOrSeconds = 0x1;
  static constexpr uint32_t kTimeNoSeconds = 0x2;
  static constexpr uint32_t kTimeNoTimeMarker = 0x4;
  static constexpr uint32_t kTimeForce24HourFormat = 0x8;
  // Either: the locale's own forms, never with a picture.
  static constexpr uint32_t kLocaleNoUserOverride = 0x80000000;

  // Span units in 100-nanosecond intervals.
  static constexpr int64_t kSecond = 10000000LL;
  static constexpr int64_t kMinute = 60 * kSecond;
  static constexpr int64_t kHour = 60 * kMinute;
  static constexpr int64_t kDay = 24 * kHour;

  // The zero time, bias not set.
  HxTime() = default;
  explicit HxTime(uint64_t fileTime, int32_t bias = kBiasNotSet) : m_time(fileTime), m_bias(bias) {}
  // From calendar fields in UTC; the zero time when they are not a valid date.
  explicit HxTime(const platform::CalendarTime& fields);
  // From hex text; the zero time when it does not scan.
  explicit HxTime(const char* hex);

  // The current time (the clock in force), bias not set.
  static HxTime Now();

  uint64_t FileTime() const { return m_time; }
  int32_t Bias() const { return m_bias; }
  bool IsZero() const { return m_time == 0; }

  // The same instant in local time; bias not set. The zero time when it cannot be converted.
  HxTime ToLocal() const;
  // "%016llx%03x": the time, then the bias (the zone's current bias when not set, -1 when that
  // cannot be read).
  HxStr ToHex() const;
  // Reads "%16llx%3x"; false (and the zero time, bias not set) when the text does not scan.
  bool FromHex(const char* hex);

  // this - other, in 100-nanosecond intervals.
  int64_t Difference(const HxTime& other) const;
  // A new time, span later; bias not set.
  HxTime Add(int64_t span) const;

  static int64_t Span(int64_t days, int64_t hours, int64_t minutes, int64_t seconds);
  // Whole days of a span; the hours within the day; minutes within the hour; seconds within
  // the minute.
  static int64_t Days(int64_t span);
  static int64_t Hours(int64_t span);
  static int64_t Minutes(int64_t span);
  static int64_t Seconds(int64_t span);

  // The time converted to local time, formatted with a Windows date or time picture
  // ("ddd',' dd MMM yyyy ", "HH':'mm':'ss"). Without a picture: the date form that the flags
  // choose (short, long or year and month), or the locale's time. The time flags leave out
  // minutes and seconds, seconds or the marker, or force 24 hours, with a picture too. Locale
  // 0x409 is English; any other is the user's locale. Empty on failure, as for flags that are
  // unknown or do not go together (a date form or kLocaleNoUserOverride with a picture, two
  // date forms).
  static HxStr FormatDate(const HxTime& time, uint32_t flags, const char* picture, uint32_t locale);
  static HxStr FormatTime(const HxTime& time, uint32_t flags, const char* picture, uint32_t locale);
  // The readable form kept beside the hex text: local short date, one blank, local time, in
  // the user's locale.
  HxStr Readable() const;

 private:
  uint64_t m_time = 0;
  int32_t m_bias = kBiasNotSet;
};
