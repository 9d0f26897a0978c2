#include "net/signing/signed_data.h"

#include <openssl/bio.h>

#include <algorithm>

#include "foundation/kv/hx_stream.h"
#include "net/signing/signing_names.h"

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

bool ParseContentLength(std::string_view text, uint64_t& length) {
  uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<uint64_t>(c - '0');
    if (value > UINT32_MAX) return false;
  }
  if (text.empty()) return false;
  length = value;
  return true;
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
