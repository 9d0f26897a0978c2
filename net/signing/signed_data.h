// The pieces of a signed file that signer and verifier must agree on: where the header ends,
// what "Mode" means, and the signed data itself — the credentials without "Signature", one
// "%s=%s\r\n" line a pair in key order, followed by the content, reduced when white space is
// ignored and cut at "Content-Length" bytes.
#pragma once
#include <openssl/types.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "foundation/kv/hx_kv_list.h"

// Content is read in blocks of this size.
inline constexpr size_t kSignedContentBlock = 2048;

// Finds the end of the header: the first point where two line feeds follow each other with
// nothing but carriage returns between them. Fed block by block.
class HeaderEndScanner {
 public:
  // True when the header ends in `block`; `length` is then the bytes of the block up to and
  // including the second line feed.
  bool Scan(std::string_view block, size_t& length);

 private:
  int m_lineFeeds = 0;
};

// True when one of the "|"-separated options of a "Mode" value, blanks around it ignored, is
// "Ignore-Whitespace" (in any case).
bool ModeIgnoresWhitespace(std::string_view mode);

// The signed form of the credentials: every pair except "Signature", in key order, each line
// ended by a carriage return and a line feed.
std::string SignedHeaderText(const HxKVList& credentials);

inline constexpr uint64_t kNoContentLimit = UINT64_MAX;

struct ContentRule {
  bool ignoreWhitespace = false;
  uint64_t limit = kNoContentLimit;  // bytes after any reduction
};

// Reads a number of the header ("Content-Length", "Sequence"): decimal digits only, at most
// 4294967295 (the signer writes 32-bit numbers; anything else, a sign, a blank or a larger
// number, is refused rather than wrapped or cut short).
bool ParseHeaderNumber(std::string_view text, uint64_t& value);
inline bool ParseContentLength(std::string_view text, uint64_t& length) {
  return ParseHeaderNumber(text, length);
}

// Reads an "Expires" value, exactly "YYYY-MM-DDTHH:MM:SSZ" (UTC), into a file time. False for
// any other form or a date that does not exist.
bool ParseExpiryTime(std::string_view text, uint64_t& fileTime);

// Keeps, in place, the bytes that are greater than 32 as signed 8-bit numbers: blanks, control
// bytes and 0x80..0xFF go. Returns the kept count.
size_t ReduceToSignificantBytes(char* block, size_t size);

// Feeds the content from the file's position to `sink` (null: only count) in blocks, reduced by
// the rule, until `rule.limit` bytes were fed or the file ends. `fed` receives the count fed.
// False on a read or write error.
bool FeedContent(std::FILE* file, const ContentRule& rule, BIO* sink, uint64_t& fed);
