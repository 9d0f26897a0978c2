#include "net/signing/signed_data.h"

#include <openssl/bio.h>

#include <algorithm>

#include "foundation/kv/hx_stream.h"
#include "net/signing/signing_names.h"
#include "platform/timefmt.h"

bool HeaderEndScanner::Scan(std::string_view block, size_t& length) {
  for (size_t i = 0; i < block.size(); ++i) {
    if (block[i] == '\n') {
      if (++m_lineFeeds == 2) {
        length = i + 1;
        return true;
      }
    } else if (block[i] != '\r') {
      m_lineFeeds = 0;
    }
  }
  return false;
}

bool ModeIgnoresWhitespace(std::string_view mode) {
  constexpr std::string_view kBlanks = " \t";
  while (true) {
    const size_t bar = mode.find('|');
    std::string_view option = mode.substr(0, bar);
    const size_t first = option.find_first_not_of(kBlanks);
    option = first == std::string_view::npos
                 ? std::string_view()
                 : option.substr(first, option.find_last_not_of(kBlanks) - first + 1);
    if (CompareNoCase(option, signing_names::kIgnoreWhitespace) == 0) return true;
    if (bar == std::string_view::npos) return false;
    mode.remove_prefix(bar + 1);
  }
}

std::string SignedHeaderText(const HxKVList& credentials) {
  HxKVList pairs = credentials;
  pairs.erase(HxStr(signing_names::kSignature));
  size_t total = 0;
  pairs.Write(nullptr, true, total);
  HxStream stream;
  stream.Reserve(total);
  pairs.Write(&stream, true, total);
  return std::string(stream.Text());
}

bool ParseHeaderNumber(std::string_view text, uint64_t& value) {
  uint64_t number = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    number = number * 10 + static_cast<uint64_t>(c - '0');
    if (number > UINT32_MAX) return false;
  }
  if (text.empty()) return false;
  value = number;
  return true;
}

bool ParseExpiryTime(std::string_view text, uint64_t& fileTime) {
  // Digits where the pattern has '9', the other characters as they stand.
  constexpr std::string_view kPattern = "9999-99-99T99:99:99Z";
  if (text.size() != kPattern.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    const bool digit = text[i] >= '0' && text[i] <= '9';
    if (kPattern[i] == '9' ? !digit : text[i] != kPattern[i]) return false;
  }
  const auto field = [&](size_t at, size_t count) {
    uint16_t value = 0;
    for (size_t i = at; i < at + count; ++i) {
      value = static_cast<uint16_t>(value * 10 + text[i] - '0');
    }
    return value;
  };
  platform::CalendarTime time;
  time.year = field(0, 4);
  time.month = field(5, 2);
  time.day = field(8, 2);
  time.hour = field(11, 2);
  time.minute = field(14, 2);
  time.second = field(17, 2);
  return platform::CalendarToFileTime(time, fileTime);  // refuses 02-30, 24:00 and the like
}

size_t ReduceToSignificantBytes(char* block, size_t size) {
  size_t kept = 0;
  for (size_t i = 0; i < size; ++i) {
    // Branch-free: every byte is written, only significant ones advance.
    const char byte = block[i];
    block[kept] = byte;
    kept += static_cast<signed char>(byte) > 32 ? 1 : 0;
  }
  return kept;
}

bool FeedContent(std::FILE* file, const ContentRule& rule, BIO* sink, uint64_t& fed) {
  fed = 0;
  char block[kSignedContentBlock];
  while (fed < rule.limit) {
    const size_t got = std::fread(block, 1, sizeof(block), file);
    if (got == 0) return std::ferror(file) == 0;
    size_t size = rule.ignoreWhitespace ? ReduceToSignificantBytes(block, got) : got;
    size = static_cast<size_t>(std::min<uint64_t>(size, rule.limit - fed));
    if (sink != nullptr && size > 0 &&
        BIO_write(sink, block, static_cast<int>(size)) != static_cast<int>(size)) {
      return false;
    }
    fed += size;
  }
  return true;
}
