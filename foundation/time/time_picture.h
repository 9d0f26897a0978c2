// Windows date and time pictures ("ddd',' dd MMM yyyy", "hh:mm:ss tt") applied to calendar
// fields. Quoted text ('...', '' for a quote) is copied; so is every character that is not a
// field of the picture's kind.
#pragma once
#include <string>

#include "platform/timefmt.h"

enum class PictureKind {
  Date,  // d dd ddd dddd, M MM MMM MMMM, y yy yyyy
  Time,  // h hh H HH, m mm, s ss, t tt
};

// What the time flags change in a time picture: a field left out takes the text between it and
// the field before it along (the text after it when it comes first); `force24Hour` reads 'h'
// as 'H'.
struct TimePictureOptions {
  bool noMinutes = false;  // minutes and seconds
  bool noSeconds = false;
  bool noMarker = false;
  bool force24Hour = false;

  bool ChangesAnything() const { return noMinutes || noSeconds || noMarker || force24Hour; }
};

// Names and the AM/PM marker come from the user's locale, or English when `english` is set.
std::string FormatPicture(const platform::CalendarTime& fields, const char* picture,
                          PictureKind kind, bool english, const TimePictureOptions& options = {});

// The user's short time form (strftime "%X") as a time picture, read off the locale's own text
// for a probe time.
std::string UserShortTimePicture();
