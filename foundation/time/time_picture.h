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

// Names and the AM/PM marker come from the user's locale, or English when `english` is set.
std::string FormatPicture(const platform::CalendarTime& fields, const char* picture,
                          PictureKind kind, bool english);
