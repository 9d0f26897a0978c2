// HxStream: an in-memory byte stream with a cursor. Lines are read from it with a caller's
// buffer; writes at the cursor grow the buffer by the shortfall plus a growth step.
#pragma once
#include <cstddef>
#include <string_view>
#include <vector>

class HxStream {
 public:
  static constexpr size_t kGrowth = 4096;

  HxStream() = default;
  virtual ~HxStream() = default;

  // Copies the line at the cursor (delimiter included, zero-terminated) into `buffer` and moves
  // past it when it fits in `size` bytes. Otherwise false with `needed` = line length + 1; at
  // the end of the text false with `needed` = 0.
  bool ReadLine(char* buffer, size_t size, char delimiter, size_t& needed);

  // ReadLine into a growing buffer (8192 bytes first): false only at the end of the text.
  // `line` views `buffer` and holds the line with its delimiter.
  bool ReadWholeLine(std::vector<char>& buffer, std::string_view& line, char delimiter = '\n');

  // Writes at the cursor; the cursor and, past the end, the size move on.
  bool Write(const void* bytes, size_t count, size_t* written = nullptr);
  bool Write(std::string_view text) { return Write(text.data(), text.size()); }

  size_t Tell() const { return m_cursor; }
  bool Seek(size_t offset);   // only inside the text
  bool Reserve(size_t size);  // only while the stream is empty

  const char* Data() const { return m_buffer.data(); }
  size_t Size() const { return m_size; }
  size_t Capacity() const { return m_buffer.size(); }
  std::string_view Text() const { return std::string_view(m_buffer.data(), m_size); }

  void Clear();
  // Cursor back to the start; the length ends at the first zero byte.
  void RewindToFirstZero();

 private:
  std::vector<char> m_buffer;  // its size is the capacity
  size_t m_size = 0;
  size_t m_cursor = 0;
};
