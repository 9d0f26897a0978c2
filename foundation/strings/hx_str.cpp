#include "foundation/strings/hx_str.h"

#include <cstddef>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <new>

#include "foundation/strings/utf8.h"

static_assert(sizeof(HxStr) == sizeof(char*), "an HxStr is one pointer to its characters");

struct HxStr::Header {
  int32_t refs;  // 0: the shared empty representation; < 0: locked for direct writing
  int32_t length;
  int32_t capacity;
  int32_t granularity;
};

namespace {

constexpr int kFormatStackSize = 260;
constexpr int kFormatStep = 260;     // heap growth of Format
constexpr int kFormatVStep = 16384;  // heap growth of FormatV

}  // namespace

// ---- representation ------------------------------------------------------------------------

HxStr::Header* HxStr::header() const {
  static_assert(sizeof(Header) == 16 &&
                    offsetof(Header, length) == sizeof(Header) - kLengthOffsetFromData,
                "GetLength reads the length field ahead of the characters");
  return reinterpret_cast<Header*>(m_data) - 1;
}

char* HxStr::EmptyData() {
  struct EmptyRep {
    Header header;
    char zero[4];
  };
  static constinit EmptyRep rep{};
  return rep.zero;
}

char* HxStr::Allocate(int length, int granularity) {
  if (length <= 0 && granularity <= 0) return EmptyData();
  return NewRep(length, granularity);
}

char* HxStr::NewRep(int length, int granularity) {
  int capacity = std::max(length, 0);
  if (granularity > 0 && capacity % granularity != 0) {
    capacity += granularity - capacity % granularity;
  }
  auto* h =
      static_cast<Header*>(::operator new(sizeof(Header) + static_cast<size_t>(capacity) + 1));
  h->refs = 1;
  h->length = std::max(length, 0);
  h->capacity = capacity;
  h->granularity = std::max(granularity, 0);
  char* data = reinterpret_cast<char*>(h + 1);
  data[h->length] = '\0';
  return data;
}

void HxStr::Release() {
  if (m_data == EmptyData()) return;
  Header* h = header();
  std::atomic_ref<int32_t> refs(h->refs);
  if (refs.load() < 0 || refs.fetch_sub(1) - 1 < 1) ::operator delete(h);
  m_data = EmptyData();
}

bool HxStr::IsOwned() const {
  return m_data != EmptyData() && (header()->refs == 1 || header()->refs < 0);
}

void HxStr::ShareFrom(const HxStr& other) {
  Header* h = other.header();
  if (other.m_data == EmptyData()) {
    m_data = EmptyData();
  } else if (h->refs < 0) {  // a locked buffer is never shared
    m_data = Allocate(h->length, h->granularity);
    std::memcpy(m_data, other.m_data, static_cast<size_t>(h->length));
  } else {
    std::atomic_ref<int32_t>(h->refs).fetch_add(1);
    m_data = other.m_data;
  }
}

void HxStr::MakeUnique(int minimumCapacity) {
  const bool owned = IsOwned();
  if (owned && header()->capacity >= minimumCapacity) return;
  const int length = GetLength();
  char* fresh = Allocate(std::max(length, minimumCapacity), GetGranularity());
  if (fresh == EmptyData()) return;
  std::memcpy(fresh, m_data, static_cast<size_t>(length));
  Header* fh = reinterpret_cast<Header*>(fresh) - 1;
  fh->length = length;
  fresh[length] = '\0';
  Release();
  m_data = fresh;
}

void HxStr::AssignBytes(const char* text, int length) {
  if (length <= 0) {
    Empty();
    return;
  }
  const bool owned = IsOwned();
  if (owned && header()->capacity >= length) {
    std::memmove(m_data, text, static_cast<size_t>(length));  // text may lie in our own buffer
  } else {
    char* fresh = Allocate(length, GetGranularity());
    std::memcpy(fresh, text, static_cast<size_t>(length));
    Release();
    m_data = fresh;
  }
  header()->length = length;
  m_data[length] = '\0';
}

void HxStr::AppendBytes(const char* text, int length) {
  if (length <= 0) return;
  const int oldLength = GetLength();
  const int newLength = oldLength + length;
  const bool owned = IsOwned();
  if (owned && header()->capacity >= newLength) {
    std::memmove(m_data + oldLength, text, static_cast<size_t>(length));
  } else {
    char* fresh = Allocate(newLength, GetGranularity());
    std::memcpy(fresh, m_data, static_cast<size_t>(oldLength));
    std::memcpy(fresh + oldLength, text, static_cast<size_t>(length));
    Release();
    m_data = fresh;
  }
  header()->length = newLength;
  m_data[newLength] = '\0';
}

// ---- construction and assignment -----------------------------------------------------------

HxStr::HxStr() : m_data(EmptyData()) {}
HxStr::HxStr(const char* text) : m_data(EmptyData()) {
  if (text != nullptr) AssignBytes(text, static_cast<int>(std::strlen(text)));
}
HxStr::HxStr(const char* text, int length) : m_data(EmptyData()) {
  if (text != nullptr) AssignBytes(text, length);
}
HxStr::HxStr(char c, int count) : m_data(EmptyData()) {
  if (count < 1) return;
  m_data = Allocate(count, 0);
  std::memset(m_data, c, static_cast<size_t>(count));
}
HxStr::HxStr(std::string_view text) : m_data(EmptyData()) {
  AssignBytes(text.data(), static_cast<int>(text.size()));
}
HxStr::HxStr(const std::string& text) : HxStr(std::string_view(text)) {}
HxStr::HxStr(const wchar_t* text) : HxStr(utf8::FromWide(text)) {}
HxStr::HxStr(const HxStr& other) : m_data(EmptyData()) { ShareFrom(other); }
HxStr::HxStr(HxStr&& other) noexcept : m_data(other.m_data) { other.m_data = EmptyData(); }
HxStr::~HxStr() { Release(); }

HxStr& HxStr::operator=(const HxStr& other) {
  if (m_data == other.m_data) return *this;
  const bool locked = GetRefCount() < 0 || other.GetRefCount() < 0;
  if (locked) {
    AssignBytes(other.m_data, other.GetLength());
  } else {
    Release();
    ShareFrom(other);
  }
  return *this;
}

HxStr& HxStr::operator=(HxStr&& other) noexcept {
  if (this == &other || m_data == other.m_data) return *this;
  if (GetRefCount() < 0) {  // our locked buffer stays ours
    AssignBytes(other.m_data, other.GetLength());
    return *this;
  }
  Release();
  m_data = other.m_data;
  other.m_data = EmptyData();
  return *this;
}

HxStr& HxStr::operator=(const char* text) {
  return *this = std::string_view(text != nullptr ? text : "");
}
HxStr& HxStr::operator=(std::string_view text) {
  AssignBytes(text.data(), static_cast<int>(text.size()));
  return *this;
}
HxStr& HxStr::operator=(const std::string& text) { return *this = std::string_view(text); }
HxStr& HxStr::operator=(const wchar_t* text) { return *this = utf8::FromWide(text); }
HxStr& HxStr::operator=(char c) { return *this = std::string_view(&c, 1); }

// ---- access ---------------------------------------------------------------------------------

int HxStr::GetGranularity() const { return header()->granularity; }
int HxStr::GetCapacity() const { return header()->capacity; }
int HxStr::GetRefCount() const { return std::atomic_ref<int32_t>(header()->refs).load(); }

void HxStr::SetGranularity(int granularity) {
  if (granularity == GetGranularity()) return;
  MakeUnique(0);
  if (m_data == EmptyData()) m_data = Allocate(0, granularity);
  header()->granularity = std::max(granularity, 0);
}

void HxStr::SetAt(int index, char c) {
  if (index < 0 || index >= GetLength()) return;
  MakeUnique(0);
  m_data[index] = c;
}

// ---- formatting -----------------------------------------------------------------------------

int HxStr::Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int count = FormatGrowing(format, args, kFormatStackSize, kFormatStep);
  va_end(args);
  return count;
}

int HxStr::FormatV(const char* format, va_list args) {
  return FormatGrowing(format, args, kFormatVStep, kFormatVStep);
}

int HxStr::FormatGrowing(const char* format, va_list args, int firstHeapSize, int step) {
  va_list retry;
  va_copy(retry, args);
  char stack[kFormatStackSize];
  const int count = std::vsnprintf(stack, sizeof(stack), format, args);
  if (count < 0 || count < kFormatStackSize) {
    va_end(retry);
    AssignBytes(stack, std::max(count, 0));
    return count;
  }
  // The heap buffer grows in steps; the first formatter call already told how far.
  int size = firstHeapSize;
  if (count >= size) size += ((count - size) / step + 1) * step;
  HxStr result;
  result.m_data = NewRep(size - 1, GetGranularity());
  std::vsnprintf(result.m_data, static_cast<size_t>(size), format, retry);
  va_end(retry);
  result.header()->length = count;
  *this = std::move(result);
  return count;
}

// ---- concatenation --------------------------------------------------------------------------

HxStr& HxStr::operator+=(const char* text) {
  if (text != nullptr) AppendBytes(text, static_cast<int>(std::strlen(text)));
  return *this;
}
HxStr& HxStr::operator+=(std::string_view text) {
  AppendBytes(text.data(), static_cast<int>(text.size()));
  return *this;
}
HxStr& HxStr::operator+=(char c) {
  AppendBytes(&c, 1);
  return *this;
}

HxStr HxStr::Concat(const HxStr& granularitySource, std::string_view left, std::string_view right) {
  HxStr result;
  const int length = static_cast<int>(left.size() + right.size());
  result.m_data = Allocate(length, granularitySource.GetGranularity());
  if (result.m_data == EmptyData()) return result;
  std::memcpy(result.m_data, left.data(), left.size());
  std::memcpy(result.m_data + left.size(), right.data(), right.size());
  return result;
}

HxStr operator+(const HxStr& left, const HxStr& right) { return HxStr::Concat(left, left, right); }
HxStr operator+(const HxStr& left, const char* right) {
  return HxStr::Concat(left, left, HxStr::ViewOf(right));
}
HxStr operator+(const char* left, const HxStr& right) {
  return HxStr::Concat(right, HxStr::ViewOf(left), right);
}
HxStr operator+(const HxStr& left, char right) {
  return HxStr::Concat(left, left, std::string_view(&right, 1));
}
HxStr operator+(char left, const HxStr& right) {
  return HxStr::Concat(right, std::string_view(&left, 1), right);
}

// ---- direct buffer access -------------------------------------------------------------------

char* HxStr::GetBuffer(int minimum) {
  const int capacity = std::max(minimum, GetLength());
  MakeUnique(capacity);
  if (m_data == EmptyData()) m_data = NewRep(0, 0);
  header()->refs = -1;
  return m_data;
}

void HxStr::ReleaseBuffer(int length) {
  if (m_data == EmptyData()) return;
  if (GetRefCount() > 1) MakeUnique(0);
  Header* h = header();
  if (length < 0) length = static_cast<int>(strnlen(m_data, static_cast<size_t>(h->capacity)));
  length = std::min(length, h->capacity);
  h->length = length;
  m_data[length] = '\0';
  if (h->refs < 0) h->refs = 1;
}

char* HxStr::GetBufferSetLength(int length) {
  char* buffer = GetBuffer(length);
  ReleaseBuffer(std::max(length, 0));
  return buffer;
}

void HxStr::Empty() {
  if (GetRefCount() < 0) {
    header()->length = 0;
    m_data[0] = '\0';
  } else {
    Release();
  }
}
