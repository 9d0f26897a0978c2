#include "foundation/time/time_picture.h"

#include <cstddef>
#include <string_view>

namespace {

std::string Number(unsigned value, size_t minimumDigits) {
  std::string digits = std::to_string(value);
  if (digits.size() < minimumDigits) digits.insert(0, minimumDigits - digits.size(), '0');
  return digits;
}

std::string Name(const platform::CalendarTime& fields, const char* format, bool english) {
  return platform::FormatCalendar(fields, format, english);
}

// One date field written `count` times in a row.
std::string DateField(const platform::CalendarTime& fields, char letter, size_t count,
                      bool english) {
  switch (letter) {
    case 'd':
      if (count <= 2) return Number(fields.day, count);
      return Name(fields, count == 3 ? "%a" : "%A", english);
    case 'M':
      if (count <= 2) return Number(fields.month, count);
      return Name(fields, count == 3 ? "%b" : "%B", english);
    default:  // 'y'
      if (count == 1) return Number(fields.year % 100, 1);
      if (count == 2) return Number(fields.year % 100, 2);
      return Number(fields.year, 4);
  }
}

// One time field written `count` times in a row.
std::string TimeField(const platform::CalendarTime& fields, char letter, size_t count,
                      bool english) {
  const size_t digits = count >= 2 ? 2 : 1;
  switch (letter) {
    case 'h':
      return Number(fields.hour % 12 == 0 ? 12 : fields.hour % 12, digits);
    case 'H':
      return Number(fields.hour, digits);
    case 'm':
      return Number(fields.minute, digits);
    case 's':
      return Number(fields.second, digits);
    default: {  // 't': the marker, or its first character
      std::string marker = Name(fields, "%p", english);
      return count == 1 ? marker.substr(0, 1) : marker;
    }
  }
}

bool IsField(char c, PictureKind kind) {
  std::string_view letters = kind == PictureKind::Date ? "dMy" : "hHmst";
  return letters.find(c) != std::string_view::npos;
}

}  // namespace

std::string FormatPicture(const platform::CalendarTime& fields, const char* picture,
                          PictureKind kind, bool english) {
  std::string out;
  const std::string_view text(picture);
  size_t at = 0;
  while (at < text.size()) {
    const char c = text[at];
    if (c == '\'') {
      // Quoted text runs to the next lone quote; a doubled quote stands for one.
      for (++at; at < text.size(); ++at) {
        if (text[at] != '\'') {
          out += text[at];
        } else if (at + 1 < text.size() && text[at + 1] == '\'') {
          out += '\'';
          ++at;
        } else {
          break;
        }
      }
      ++at;
      continue;
    }
    if (!IsField(c, kind)) {
      out += c;
      ++at;
      continue;
    }
    size_t count = 1;
    while (at + count < text.size() && text[at + count] == c) ++count;
    out += kind == PictureKind::Date ? DateField(fields, c, count, english)
                                     : TimeField(fields, c, count, english);
    at += count;
  }
  return out;
}
