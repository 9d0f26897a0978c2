#include "foundation/strings/url_credentials.h"

#include <cstring>

namespace {

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= 0x20 || c == 0x7f; }

// Characters that may stand in "user:password" (generously: a password is masked whole even
// when it holds characters a URL should have encoded).
bool InUserInfo(char c) { return !IsBlank(c) && std::strchr("/\\\"<>", c) == nullptr; }

// Characters that end a server part: its path, query or fragment, or the text around it.
bool EndsServer(char c) { return IsBlank(c) || std::strchr("/\\?#\"'<>", c) != nullptr; }

}  // namespace

std::string MaskUrlCredentials(std::string_view text) {
  std::string masked;
  size_t copied = 0;  // text before this index is in `masked` already
  for (size_t at = text.find('@'); at != std::string_view::npos; at = text.find('@', at + 1)) {
    size_t start = at;
    while (start > copied && InUserInfo(text[start - 1])) --start;
    const size_t colon = text.substr(0, at).find(':', start);
    if (colon == std::string_view::npos || colon + 1 == at) continue;  // no password
    // A password may hold '@' itself: the server begins after the last one.
    for (size_t i = at + 1; i < text.size() && !EndsServer(text[i]); ++i) {
      if (text[i] == '@') at = i;
    }
    masked.append(text.substr(copied, colon + 1 - copied)).append("***");
    copied = at;
  }
  if (copied == 0) return std::string(text);
  return masked.append(text.substr(copied));
}
