#include "foundation/kv/hx_stream.h"

#include <cstring>

namespace {
constexpr size_t kFirstLineBuffer = 8192;
}

bool HxStream::ReadLine(char* buffer, size_t size, char delimiter, size_t& needed) {
  needed = 0;
  if (m_cursor >= m_size) return false;
  const char* start = m_buffer.data() + m_cursor;
  const size_t remaining = m_size - m_cursor;
  const void* found = std::memchr(start, delimiter, remaining);
  const size_t length = found != nullptr
                            ? static_cast<size_t>(static_cast<const char*>(found) - start) + 1
                            : remaining;
  if (length >= size) {
    needed = length + 1;
    return false;
  }
  std::memcpy(buffer, start, length);
  buffer[length] = '\0';
  m_cursor += length;
  return true;
}

bool HxStream::ReadWholeLine(std::vector<char>& buffer, std::string_view& line, char delimiter) {
  if (buffer.size() < kFirstLineBuffer) buffer.resize(kFirstLineBuffer);
  const size_t start = m_cursor;
  size_t needed = 0;
  while (!ReadLine(buffer.data(), buffer.size(), delimiter, needed)) {
    if (needed == 0) return false;
    buffer.resize(needed);
  }
  line = std::string_view(buffer.data(), m_cursor - start);
  return true;
}

bool HxStream::Write(const void* bytes, size_t count, size_t* written) {
  if (written != nullptr) *written = 0;
  const size_t room = m_buffer.size() - m_cursor;
  if (count > room) m_buffer.resize(m_buffer.size() + (count - room) + kGrowth);
  if (count > 0) std::memcpy(m_buffer.data() + m_cursor, bytes, count);
  m_cursor += count;
  if (m_cursor > m_size) m_size = m_cursor;
  if (written != nullptr) *written = count;
  return true;
}

bool HxStream::Seek(size_t offset) {
  if (offset > m_size) return false;
  m_cursor = offset;
  return true;
}

bool HxStream::Reserve(size_t size) {
  if (m_size != 0) return false;
  if (size > m_buffer.size()) m_buffer.resize(size);
  return true;
}

void HxStream::Clear() {
  m_buffer.clear();
  m_size = 0;
  m_cursor = 0;
}

void HxStream::RewindToFirstZero() {
  m_cursor = 0;
  m_size = strnlen(m_buffer.data(), m_size);
}
