#include "foundation/kv/encoded_text_file.h"

#include <algorithm>
#include <cstring>

#include "foundation/strings/utf8.h"

namespace {

constexpr size_t kReadBlock = 65536;
constexpr unsigned char kUtf8Bom[] = {0xEF, 0xBB, 0xBF};
constexpr unsigned char kUtf16LeBom[] = {0xFF, 0xFE};

bool StartsWith(const std::vector<unsigned char>& bytes, const unsigned char* mark, size_t size) {
  return bytes.size() >= size && std::memcmp(bytes.data(), mark, size) == 0;
}

// Length of the chunk at `data` up to and including a line feed, or `limit` when none comes.
size_t LineLength(const unsigned char* data, size_t limit, bool wide) {
  if (wide) {
    for (size_t i = 0; i + 1 < limit; i += 2) {
      if (data[i] == '\n' && data[i + 1] == 0) return i + 2;
    }
    return limit;
  }
  const void* found = std::memchr(data, '\n', limit);
  return found != nullptr ? static_cast<size_t>(static_cast<const unsigned char*>(found) - data) + 1
                          : limit;
}

}  // namespace

EncodedTextReader::~EncodedTextReader() {
  if (m_file != nullptr) std::fclose(m_file);
}

bool EncodedTextReader::Open(const std::string& path) {
  m_file = std::fopen(path.c_str(), "rb");
  if (m_file == nullptr) return false;
  Fill();
  if (StartsWith(m_pending, kUtf8Bom, sizeof kUtf8Bom)) {
    m_encoding = HxTextEncoding::kUtf8;
    m_begin = sizeof kUtf8Bom;
  } else if (StartsWith(m_pending, kUtf16LeBom, sizeof kUtf16LeBom)) {
    m_encoding = HxTextEncoding::kUtf16Le;
    m_begin = sizeof kUtf16LeBom;
  }
  return !m_error;
}

void EncodedTextReader::Fill() {
  if (m_begin > 0) {
    m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(m_begin));
    m_begin = 0;
  }
  while (!m_eof && !m_error && m_pending.size() < kChunkBytes) {
    const size_t old = m_pending.size();
    m_pending.resize(old + kReadBlock);
    const size_t got = std::fread(m_pending.data() + old, 1, kReadBlock, m_file);
    m_pending.resize(old + got);
    if (got < kReadBlock) {
      m_error = std::ferror(m_file) != 0;
      m_eof = !m_error;
    }
  }
}

bool EncodedTextReader::ReadChunk(std::string& chunk, bool& lineStart) {
  chunk.clear();
  if (m_file == nullptr) return false;
  if (m_pending.size() - m_begin < kChunkBytes) Fill();
  const size_t available = m_pending.size() - m_begin;
  if (available == 0) return false;
  const unsigned char* data = m_pending.data() + m_begin;
  const bool wide = m_encoding == HxTextEncoding::kUtf16Le;
  const size_t limit = std::min(available, kChunkBytes);
  size_t length = LineLength(data, limit, wide);
  const bool endsLine = wide ? (length >= 2 && data[length - 2] == '\n' && data[length - 1] == 0)
                             : (length >= 1 && data[length - 1] == '\n');
  if (!endsLine && (length < available || !m_eof)) {
    // More text follows: do not end inside a character, it comes whole with the next chunk.
    length -= wide ? utf8::IncompleteUtf16Tail(data, length)
                   : utf8::IncompleteTail(reinterpret_cast<const char*>(data), length);
  }
  if (wide) {
    utf8::AppendFromUtf16Le(chunk, data, length);
  } else {
    chunk.assign(reinterpret_cast<const char*>(data), length);
  }
  m_begin += length;
  lineStart = m_atLineStart;
  m_atLineStart = endsLine;
  return true;
}

bool WriteEncodedTextFile(const std::string& path, std::string_view text, HxTextEncoding encoding) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  bool ok = true;
  if (encoding == HxTextEncoding::kUtf8) {
    ok = std::fwrite(kUtf8Bom, 1, sizeof kUtf8Bom, file) == sizeof kUtf8Bom;
  } else if (encoding == HxTextEncoding::kUtf16Le) {
    ok = std::fwrite(kUtf16LeBom, 1, sizeof kUtf16LeBom, file) == sizeof kUtf16LeBom;
  }
  if (encoding == HxTextEncoding::kUtf16Le) {
    std::string wide;
    utf8::AppendUtf16Le(wide, text);
    ok = ok && std::fwrite(wide.data(), 1, wide.size(), file) == wide.size();
  } else {
    ok = ok && std::fwrite(text.data(), 1, text.size(), file) == text.size();
  }
  return (std::fclose(file) == 0) && ok;
}
