#include "xml/xml_text.h"

#include <algorithm>

#include "foundation/context/context_names.h"
#include "foundation/context/context_store.h"
#include "foundation/strings/utf8.h"
#include "xml/xml_records.h"

namespace xml_text {
namespace {

constexpr std::string_view kProviderIdToken = "%PROVIDERID%";
constexpr size_t kProviderIdMax = 259;  // the value is read into a buffer of 260 bytes

// Spare capacity above this many bytes is returned to the allocator when a text is settled.
constexpr size_t kSpareCapacity = 64;

}  // namespace

std::string StoredText(std::string_view text) {
  if (text.size() > kRawTextMarker.size() && text.starts_with(kRawTextMarker)) {
    return std::string(text.substr(kRawTextMarker.size()));
  }
  return FromAnsi(text);
}

bool IsWhitespace(char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == '\v'; }

void SettleParsedText(XmlElement& element, bool trim) {
  if (!element.hasText) return;
  XmlRecordPool& pool = element.document->pool;
  const std::string_view value = element.text.View();
  size_t first = 0;
  while (first < value.size() && IsWhitespace(value[first])) ++first;
  if (first == value.size()) {
    element.text.Release(pool);
    element.hasText = false;
    return;
  }
  size_t end = value.size();
  if (trim) {
    while (IsWhitespace(value[end - 1])) --end;
  } else {
    first = 0;
  }
  element.text.Keep(pool, first, end, kSpareCapacity);
}

void AssignWithProviderId(std::string_view utf8, HxStr& out) {
  size_t found = utf8.find(kProviderIdToken);
  if (found == std::string_view::npos) {
    out = utf8;  // the ANSI form is the UTF-8 text itself (ToAnsi); out's buffer is reused
    return;
  }
  HxStr providerId = GetValue(context_names::kSection, context_names::kProviderId);
  const std::string_view value = std::string_view(providerId).substr(0, kProviderIdMax);
  // One pass from left to right: a provider id that itself holds the token is not expanded
  // again. The result is measured first and written once into out's buffer.
  size_t tokens = 0;
  for (size_t at = found; at != std::string_view::npos;
       at = utf8.find(kProviderIdToken, at + kProviderIdToken.size())) {
    ++tokens;
  }
  const size_t length = utf8.size() - tokens * kProviderIdToken.size() + tokens * value.size();
  char* write = out.GetBufferSetLength(static_cast<int>(length));
  size_t done = 0;
  while (found != std::string_view::npos) {
    write = std::copy(utf8.begin() + done, utf8.begin() + found, write);
    write = std::copy(value.begin(), value.end(), write);
    done = found + kProviderIdToken.size();
    found = utf8.find(kProviderIdToken, done);
  }
  std::copy(utf8.begin() + done, utf8.end(), write);
  out.ReleaseBuffer(static_cast<int>(length));
}

HxStr WithProviderId(std::string_view utf8) {
  HxStr out;
  AssignWithProviderId(utf8, out);
  return out;
}

void AppendEscaped(std::string& out, std::string_view text) {
  // Byte by byte, as for the single-byte locales ("ISO-8859-1", "ISO-8859-2"): the OEM code page
  // is UTF-8 here and no byte of a UTF-8 multibyte sequence is below 0x80, so escaping single
  // ASCII bytes is exact and a round trip through UTF-16 would change nothing.
  for (char c : text) {
    switch (c) {
      case '"':
        out += "&quot;";
        break;
      case '&':
        out += "&amp;";
        break;
      case '\'':
        out += "&apos;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      default:
        if (static_cast<unsigned char>(c) >= 0x20 || c == '\t' || c == '\n' || c == '\r') {
          out += c;
        }
    }
  }
}

void CopyAsUtf16(std::string_view utf8, char16_t* buffer, size_t count) {
  size_t written = 0;
  auto put = [&](uint32_t unit) {
    if (written < count) buffer[written++] = static_cast<char16_t>(unit);
  };
  for (size_t pos = 0; pos < utf8.size() && written < count;) {
    const uint32_t code = utf8::DecodeAt(utf8, pos);
    if (code >= 0x10000 && code <= 0x10FFFF) {
      put(0xD800 + ((code - 0x10000) >> 10));
      put(0xDC00 + ((code - 0x10000) & 0x3FF));
    } else {
      put(code);
    }
  }
  while (written < count) buffer[written++] = u'\0';
}

}  // namespace xml_text
