// HxStr's text operations: comparison, trimming, searching, in-place character changes,
// wildcard matching and the string table. They work through the public interface and the
// copy-on-write helpers, walking multibyte characters whole.
#include <cstring>
#include <algorithm>
#include <string>

#include "foundation/strings/hx_str.h"
#include "foundation/strings/string_table.h"
#include "foundation/strings/utf8.h"

namespace {

bool IsAsciiLetter(unsigned char c) { return (c | 0x20) >= 'a' && (c | 0x20) <= 'z'; }
char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c; }
char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - ('a' - 'A')) : c; }

}  // namespace

// ---- comparison -----------------------------------------------------------------------------

int HxStr::Compare(std::string_view other) const {
  const int result = std::string_view(*this).compare(other);
  return result < 0 ? -1 : (result > 0 ? 1 : 0);
}

int HxStr::CompareNoCase(std::string_view other) const { return ::CompareNoCase(*this, other); }

int CompareNoCase(std::string_view a, std::string_view b) {
  const size_t common = std::min(a.size(), b.size());
  // Bytes that are equal stay equal when folded: skip a long common prefix eight at a time
  // (table keys such as file names often share one).
  size_t i = 0;
  while (i + 8 <= common && std::memcmp(a.data() + i, b.data() + i, 8) == 0) i += 8;
  for (; i < common; ++i) {
    const unsigned char ca = static_cast<unsigned char>(AsciiLower(a[i]));
    const unsigned char cb = static_cast<unsigned char>(AsciiLower(b[i]));
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

// ---- trimming and searching -----------------------------------------------------------------

void HxStr::TrimLeft(char c) {
  const int length = GetLength();
  int start = 0;
  while (start < length && m_data[start] == c &&
         utf8::CharLength(m_data + start, static_cast<size_t>(length - start)) == 1) {
    ++start;
  }
  if (start == 0) return;
  AssignBytes(m_data + start, length - start);
}

void HxStr::TrimRight(char c) {
  const int length = GetLength();
  int runStart = -1;  // start of the trailing run of `c`, walked character by character
  for (int i = 0; i < length;) {
    const int charLength = utf8::CharLength(m_data + i, static_cast<size_t>(length - i));
    if (charLength == 1 && m_data[i] == c) {
      if (runStart < 0) runStart = i;
    } else {
      runStart = -1;
    }
    i += charLength;
  }
  if (runStart >= 0) AssignBytes(m_data, runStart);  // a prefix of our own text
}

void HxStr::Trim(char c) {
  TrimRight(c);
  TrimLeft(c);
}

int HxStr::Find(char c) const {
  const size_t pos = std::string_view(*this).find(c);
  return pos == std::string_view::npos ? -1 : static_cast<int>(pos);
}

int HxStr::ReverseFind(char c) const {
  const size_t pos = std::string_view(*this).rfind(c);
  return pos == std::string_view::npos ? -1 : static_cast<int>(pos);
}

int HxStr::Find(const char* text) const {
  if (text == nullptr) return -1;
  const size_t pos = std::string_view(*this).find(text);
  return pos == std::string_view::npos ? -1 : static_cast<int>(pos);
}

HxStr HxStr::Mid(int first, int last) const {
  const int length = GetLength();
  if (first < 0 || first > last || first >= length || last > length) return HxStr();
  return HxStr(m_data + first, last - first);
}

int CountOf(std::string_view text, char c) {
  return static_cast<int>(std::count(text.begin(), text.end(), c));
}

// ---- in-place character changes -------------------------------------------------------------

void HxStr::Replace(char from, char to) {
  const int length = GetLength();
  bool madeUnique = false;
  for (int i = 0; i < length;) {
    const int charLength = utf8::CharLength(m_data + i, static_cast<size_t>(length - i));
    if (charLength == 1 && m_data[i] == from) {
      if (!madeUnique) {
        MakeUnique(0);
        madeUnique = true;
      }
      m_data[i] = to;
    }
    i += charLength;
  }
}

void HxStr::MakeUpper() {
  const int length = GetLength();
  const auto lower = [](char c) { return c >= 'a' && c <= 'z'; };
  if (std::none_of(m_data, m_data + length, lower)) return;
  MakeUnique(0);
  std::transform(m_data, m_data + length, m_data, AsciiUpper);
}

void HxStr::MakeLower() {
  const int length = GetLength();
  const auto upper = [](char c) { return c >= 'A' && c <= 'Z'; };
  if (std::none_of(m_data, m_data + length, upper)) return;
  MakeUnique(0);
  std::transform(m_data, m_data + length, m_data, AsciiLower);
}

// ---- wildcard match -------------------------------------------------------------------------

namespace {

uint32_t FoldCase(uint32_t c, bool noCase) {
  return (noCase && c < 0x80 && IsAsciiLetter(static_cast<unsigned char>(c))) ? (c | 0x20) : c;
}

// Matches one pattern token (not '*') at pattern[p] against character `c`; advances p past it.
bool MatchToken(std::string_view pattern, size_t& p, uint32_t c, bool noCase) {
  if (pattern[p] == '?') {
    ++p;
    return true;
  }
  if (pattern[p] == '[') {
    const size_t close = pattern.find(']', p + 1);
    if (close != std::string_view::npos) {
      const std::string_view set = pattern.substr(p + 1, close - p - 1);
      p = close + 1;
      bool hit = false;
      for (size_t s = 0; s < set.size() && !hit;) {
        const uint32_t low = FoldCase(utf8::DecodeAt(set, s), noCase);
        uint32_t high = low;
        if (s + 1 < set.size() && set[s] == '-') {
          ++s;
          high = FoldCase(utf8::DecodeAt(set, s), noCase);
        }
        hit = c >= low && c <= high;
      }
      return hit;
    }
    // An unclosed bracket is an ordinary character.
  }
  return FoldCase(utf8::DecodeAt(pattern, p), noCase) == c;
}

bool WildcardMatch(std::string_view text, std::string_view pattern, bool noCase) {
  size_t t = 0;
  size_t p = 0;
  size_t starPattern = std::string_view::npos;  // pattern position after the last '*'
  size_t starText = 0;                          // text position that '*' is stretched to
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      starPattern = ++p;
      starText = t;
      continue;
    }
    size_t next = t;
    const uint32_t c = FoldCase(utf8::DecodeAt(text, next), noCase);
    size_t afterToken = p;
    if (p < pattern.size() && MatchToken(pattern, afterToken, c, noCase)) {
      t = next;
      p = afterToken;
      continue;
    }
    if (starPattern == std::string_view::npos) return false;
    // Let the last '*' swallow one more character and try again behind it.
    utf8::DecodeAt(text, starText);
    t = starText;
    p = starPattern;
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

}  // namespace

bool HxStr::Match(const char* pattern) const {
  return WildcardMatch(*this, ViewOf(pattern), false);
}

bool HxStr::MatchNoCase(const char* pattern) const {
  return WildcardMatch(*this, ViewOf(pattern), true);
}

// ---- string table ---------------------------------------------------------------------------

bool HxStr::LoadString(uint32_t id) {
  std::string text;
  if (!LoadModuleString(id, text)) text.clear();
  *this = text;
  return !IsEmpty();
}
