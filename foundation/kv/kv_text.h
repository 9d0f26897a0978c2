// Small text helpers shared by the key-value reader and writer.
#pragma once
#include <cstddef>
#include <initializer_list>
#include <string_view>

#include "foundation/kv/hx_stream.h"

namespace kvtext {

// White space as the key-value syntax knows it: blank, tab, CR, LF, VT, FF.
inline bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

inline std::string_view TrimRight(std::string_view text) {
  while (!text.empty() && IsSpace(text.back())) text.remove_suffix(1);
  return text;
}

// Writes the parts to `stream` when it is set and adds their sizes to `total` either way, for
// the counting pass and the writing pass of one serialiser.
inline void WriteParts(HxStream* stream, std::initializer_list<std::string_view> parts,
                       size_t& total) {
  for (const std::string_view part : parts) {
    if (stream != nullptr) stream->Write(part);
    total += part.size();
  }
}

}  // namespace kvtext
