// Text files in one of three encodings, told apart by their byte-order mark: UTF-8 (EF BB BF),
// UTF-16 little-endian (FF FE) or "ANSI" (no mark; UTF-8 on this system). Reading yields
// UTF-8 in chunks of at most 8192 file bytes that never end inside a character.
#pragma once
#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

enum class HxTextEncoding { kAnsi, kUtf8, kUtf16Le };

class EncodedTextReader {
 public:
  static constexpr size_t kChunkBytes = 8192;

  EncodedTextReader() = default;
  EncodedTextReader(const EncodedTextReader&) = delete;
  EncodedTextReader& operator=(const EncodedTextReader&) = delete;
  ~EncodedTextReader();

  // Opens the file and detects its encoding; reading starts behind the mark.
  bool Open(const std::string& path);
  HxTextEncoding Encoding() const { return m_encoding; }

  // The next chunk, up to and including a line feed or at most kChunkBytes file bytes, as
  // UTF-8. A chunk that would end inside a character ends before it; the rest comes next.
  // `lineStart` tells whether the chunk begins a line. False at the end or on a read error.
  bool ReadChunk(std::string& chunk, bool& lineStart);
  // True when reading stopped on an error rather than at the end.
  bool Failed() const { return m_error; }

 private:
  void Fill();

  std::FILE* m_file = nullptr;
  HxTextEncoding m_encoding = HxTextEncoding::kAnsi;
  std::vector<unsigned char> m_pending;
  size_t m_begin = 0;
  bool m_eof = false;
  bool m_error = false;
  bool m_atLineStart = true;
};

// Creates (or truncates) the file and writes the encoding's byte-order mark and `text` (UTF-8)
// in that encoding.
bool WriteEncodedTextFile(const std::string& path, std::string_view text, HxTextEncoding encoding);
