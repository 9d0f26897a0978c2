#include "foundation/strings/utf8.h"

namespace utf8 {
namespace {

bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

bool IsHighSurrogate(uint32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(uint32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

}  // namespace

int SequenceLength(unsigned char lead) {
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 1;
}

int CharLength(const char* p, size_t remaining) {
  int length = SequenceLength(static_cast<unsigned char>(p[0]));
  if (static_cast<size_t>(length) > remaining) return 1;
  for (int i = 1; i < length; ++i) {
    if (!IsContinuation(static_cast<unsigned char>(p[i]))) return 1;
  }
  return length;
}

uint32_t DecodeAt(std::string_view text, size_t& pos) {
  const unsigned char lead = static_cast<unsigned char>(text[pos]);
  const int length = CharLength(text.data() + pos, text.size() - pos);
  if (length == 1) {
    ++pos;
    return lead < 0x80 ? lead : 0xDC00u + lead;
  }
  uint32_t codePoint = lead & (0x7Fu >> length);
  for (int i = 1; i < length; ++i) {
    codePoint = (codePoint << 6) | (static_cast<unsigned char>(text[pos + i]) & 0x3Fu);
  }
  pos += static_cast<size_t>(length);
  return codePoint;
}

void Append(std::string& out, uint32_t codePoint) {
  if (codePoint < 0x80) {
    out.push_back(static_cast<char>(codePoint));
  } else if (codePoint < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (codePoint >> 6)));
    out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
  } else if (IsHighSurrogate(codePoint) || IsLowSurrogate(codePoint) || codePoint > 0x10FFFF) {
    out.push_back('?');
  } else if (codePoint < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (codePoint >> 12)));
    out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (codePoint >> 18)));
    out.push_back(static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
  }
}

size_t IncompleteTail(const char* data, size_t size) {
  const size_t window = size < 3 ? size : 3;
  for (size_t back = 1; back <= window; ++back) {
    const unsigned char c = static_cast<unsigned char>(data[size - back]);
    if (IsContinuation(c)) continue;
    const int needed = SequenceLength(c);
    // A lead byte whose sequence runs past the end: cut before it.
    return (c >= 0xC2 && static_cast<size_t>(needed) > back) ? back : 0;
  }
  return 0;
}

std::string FromWide(const wchar_t* text) {
  std::string out;
  if (text == nullptr) return out;
  for (; *text != L'\0'; ++text) Append(out, static_cast<uint32_t>(*text));
  return out;
}

void AppendFromUtf16Le(std::string& out, const unsigned char* bytes, size_t size) {
  const size_t units = size / 2;
  for (size_t i = 0; i < units; ++i) {
    const uint32_t unit = bytes[2 * i] | (static_cast<uint32_t>(bytes[2 * i + 1]) << 8);
    if (IsHighSurrogate(unit) && i + 1 < units) {
      const uint32_t next = bytes[2 * i + 2] | (static_cast<uint32_t>(bytes[2 * i + 3]) << 8);
      if (IsLowSurrogate(next)) {
        Append(out, 0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00));
        ++i;
        continue;
      }
    }
    Append(out, unit);  // a lone surrogate gives '?'
  }
}

void AppendUtf16Le(std::string& out, std::string_view text) {
  const auto unit = [&out](uint32_t value) {
    out.push_back(static_cast<char>(value & 0xFF));
    out.push_back(static_cast<char>(value >> 8));
  };
  for (size_t pos = 0; pos < text.size();) {
    uint32_t codePoint = DecodeAt(text, pos);
    if (IsLowSurrogate(codePoint)) codePoint = '?';  // a stray byte
    if (codePoint >= 0x10000) {
      unit(0xD800 + ((codePoint - 0x10000) >> 10));
      unit(0xDC00 + ((codePoint - 0x10000) & 0x3FF));
    } else {
      unit(codePoint);
    }
  }
}

size_t IncompleteUtf16Tail(const unsigned char* bytes, size_t size) {
  size_t cut = size % 2;
  const size_t whole = size - cut;
  if (whole >= 2) {
    const uint32_t last = bytes[whole - 2] | (static_cast<uint32_t>(bytes[whole - 1]) << 8);
    if (IsHighSurrogate(last)) cut += 2;
  }
  return cut;
}

}  // namespace utf8
