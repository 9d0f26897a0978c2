#include "foundation/time/time_picture.h"

#include <cstddef>
#include <string_view>
#include <utility>

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

bool LeftOut(char field, const TimePictureOptions& options) {
  switch (field) {
    case 'm':
      return options.noMinutes;
    case 's':
      return options.noMinutes || options.noSeconds;
    case 't':
      return options.noMarker;
    default:
      return false;
  }
}

// Quoted picture text standing for `text` exactly.
std::string Quoted(std::string_view text) {
  std::string quoted = "'";
  for (const char c : text) quoted += c == '\'' ? std::string("''") : std::string(1, c);
  return quoted + "'";
}

}  // namespace

std::string FormatPicture(const platform::CalendarTime& fields, const char* picture,
                          PictureKind kind, bool english, const TimePictureOptions& options) {
  std::string out;
  size_t keptEnd = 0;      // where the text after the last field written begins
  bool keptAny = false;
  bool skipText = false;   // the text after a first field that was left out
  const std::string_view text(picture);
  size_t at = 0;
  while (at < text.size()) {
    char c = text[at];
    if (c == '\'') {
      // Quoted text runs to the next lone quote; a doubled quote stands for one.
      for (++at; at < text.size(); ++at) {
        if (text[at] != '\'') {
          if (!skipText) out += text[at];
        } else if (at + 1 < text.size() && text[at + 1] == '\'') {
          if (!skipText) out += '\'';
          ++at;
        } else {
          break;
        }
      }
      ++at;
      continue;
    }
    if (!IsField(c, kind)) {
      if (!skipText) out += c;
      ++at;
      continue;
    }
    size_t count = 1;
    while (at + count < text.size() && text[at + count] == c) ++count;
    at += count;
    if (kind == PictureKind::Time && LeftOut(c, options)) {
      out.resize(keptAny ? keptEnd : 0);
      skipText = !keptAny;
      continue;
    }
    if (kind == PictureKind::Time && c == 'h' && options.force24Hour) c = 'H';
    out += kind == PictureKind::Date ? DateField(fields, c, count, english)
                                     : TimeField(fields, c, count, english);
    keptEnd = out.size();
    keptAny = true;
    skipText = false;
  }
  return out;
}

std::string UserShortTimePicture() {
  // 13:42:57 on a Tuesday: every number of it tells one field apart.
  const platform::CalendarTime probe{1999, 11, 2, 23, 13, 42, 57, 0};
  const std::string text = platform::FormatCalendar(probe, "%X", false);
  const std::string marker = platform::FormatCalendar(probe, "%p", false);
  static constexpr std::pair<std::string_view, std::string_view> kFields[] = {
      {"13", "HH"}, {"01", "hh"}, {"1", "h"}, {"42", "mm"}, {"57", "ss"}};
  std::string picture;
  std::string literal;
  auto flush = [&] {
    if (!literal.empty()) picture += Quoted(literal);
    literal.clear();
  };
  for (size_t at = 0; at < text.size();) {
    if (!marker.empty() && text.compare(at, marker.size(), marker) == 0) {
      flush();
      picture += "tt";
      at += marker.size();
      continue;
    }
    bool matched = false;
    for (const auto& [digits, field] : kFields) {
      if (text.compare(at, digits.size(), digits) == 0) {
        flush();
        picture += field;
        at += digits.size();
        matched = true;
        break;
      }
    }
    if (!matched) literal += text[at++];
  }
  flush();
  return picture;
}
