#include "foundation/strings/url_escape.h"

namespace {

bool NeedsEscape(unsigned char byte) {
  if (byte <= 0x20 || byte >= 0x7f) return true;  // controls, space, DEL and non-ASCII
  switch (byte) {
    case '"':
    case '<':
    case '>':
    case '{':
    case '}':
    case '|':
    case '\\':
    case '^':
    case '`':
      return true;
    default:
      return false;
  }
}

}  // namespace

std::string EscapeUrlText(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string escaped;
  escaped.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (!NeedsEscape(byte)) {
      escaped += c;
      continue;
    }
    escaped += '%';
    escaped += kHex[byte >> 4];
    escaped += kHex[byte & 0xf];
  }
  return escaped;
}
