// HxStr: the reference-counted single-byte string that carries every text of the system.
// One pointer to the characters; a header of four int32 fields (reference count, length,
// capacity, granularity) lies just ahead of them. Copies share the representation; every change
// first makes it unique (copy-on-write). A negative count marks a buffer handed out for direct
// writing (GetBuffer): such a representation is never shared, copies copy the characters.
// Single-byte text is UTF-8 on this system; bytes >= 0x80 belong to multibyte characters and
// are never split or case-changed.
#pragma once
#include <cstring>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <type_traits>

class HxStr {
  template <typename T>
  static constexpr bool ViewLike = std::is_convertible_v<const T&, std::string_view> &&
                                   !std::is_convertible_v<const T&, const char*> &&
                                   !std::is_same_v<std::remove_cvref_t<T>, HxStr>;

 public:
  HxStr();
  HxStr(const char* text);  // null gives the empty string
  HxStr(const char* text, int length);
  HxStr(char c, int count);  // count < 1 gives the empty string
  HxStr(std::string_view text);
  HxStr(const std::string& text);
  HxStr(const wchar_t* text);  // wide text, converted to UTF-8
  HxStr(const HxStr& other);
  HxStr(HxStr&& other) noexcept;
  ~HxStr();

  HxStr& operator=(const HxStr& other);
  HxStr& operator=(HxStr&& other) noexcept;
  HxStr& operator=(const char* text);
  HxStr& operator=(std::string_view text);
  HxStr& operator=(const std::string& text);
  HxStr& operator=(const wchar_t* text);
  HxStr& operator=(char c);

  const char* c_str() const { return m_data; }
  // Read straight from the header ahead of the characters (refs, length, capacity, granularity):
  // lengths are asked for on every comparison, so this stays inline.
  int GetLength() const {
    int32_t length;
    std::memcpy(&length, m_data - kLengthOffsetFromData, sizeof length);
    return length;
  }
  bool IsEmpty() const { return GetLength() == 0; }
  operator std::string_view() const {
    return std::string_view(m_data, static_cast<size_t>(GetLength()));
  }
  char operator[](int index) const { return m_data[index]; }
  char GetAt(int index) const { return m_data[index]; }
  void SetAt(int index, char c);

  // printf formatting into the string; returns the formatter's count.
  int Format(const char* format, ...) __attribute__((format(printf, 2, 3)));
  int FormatV(const char* format, va_list args) __attribute__((format(printf, 2, 0)));

  // Appends in place when the representation is unique and has room.
  HxStr& operator+=(const char* text);
  HxStr& operator+=(std::string_view text);  // also takes HxStr and std::string
  HxStr& operator+=(char c);

  friend HxStr operator+(const HxStr& left, const HxStr& right);
  friend HxStr operator+(const HxStr& left, const char* right);
  friend HxStr operator+(const char* left, const HxStr& right);
  // std::string, std::string_view and the like on either side.
  template <typename T>
  requires ViewLike<T>
  friend HxStr operator+(const HxStr& left, const T& right) {
    return Concat(left, left, std::string_view(right));
  }
  template <typename T>
  requires ViewLike<T>
  friend HxStr operator+(const T& left, const HxStr& right) {
    return Concat(right, std::string_view(left), right);
  }
  friend HxStr operator+(const HxStr& left, char right);
  friend HxStr operator+(char left, const HxStr& right);

  // Byte-wise comparison (strcmp); CompareNoCase folds ASCII letters (stricmp).
  int Compare(std::string_view other) const;
  int CompareNoCase(std::string_view other) const;
  friend bool operator==(const HxStr& a, const HxStr& b) { return a.Compare(b) == 0; }
  friend auto operator<=>(const HxStr& a, const HxStr& b) { return a.Compare(b) <=> 0; }
  template <typename T>
  requires std::is_convertible_v<const T&, std::string_view>
  friend bool operator==(const HxStr& a, const T& b) { return a.Compare(ViewOf(b)) == 0; }
  template <typename T>
  requires std::is_convertible_v<const T&, std::string_view>
  friend auto operator<=>(const HxStr& a, const T& b) { return a.Compare(ViewOf(b)) <=> 0; }

  // Direct writing: GetBuffer makes the representation unique with room for at least `minimum`
  // bytes and locks it; ReleaseBuffer sets the length (-1: up to the first zero byte) and unlocks.
  char* GetBuffer(int minimum = 0);
  void ReleaseBuffer(int length = -1);
  char* GetBufferSetLength(int length);

  void Empty();  // length 0; a locked buffer is truncated in place

  // Remove the leading, trailing or both runs of one character.
  void TrimLeft(char c = ' ');
  void TrimRight(char c = ' ');
  void Trim(char c = ' ');

  // Byte index of the first / last match, -1 when absent.
  int Find(char c) const;
  int ReverseFind(char c) const;
  int Find(const char* text) const;

  // Bytes [first, last); empty unless 0 <= first <= last, first < length, last <= length.
  HxStr Mid(int first, int last) const;

  void Replace(char from, char to);  // single-byte characters only
  void MakeUpper();
  void MakeLower();

  // Whole-string wildcard match: * any run, ? one character, [a-z] one of a set.
  bool Match(const char* pattern) const;
  bool MatchNoCase(const char* pattern) const;

  // Loads the module's string-table text `id`; true when it is not empty.
  bool LoadString(uint32_t id);

  // Growth granularity of new representations (0: exact size); concatenation carries it over.
  void SetGranularity(int granularity);
  int GetGranularity() const;
  int GetCapacity() const;
  // The representation's reference count: 0 for the shared empty one, negative when locked.
  int GetRefCount() const;

 private:
  static std::string_view ViewOf(const char* text) {
    return text ? std::string_view(text) : std::string_view();
  }
  static std::string_view ViewOf(std::string_view text) { return text; }

  struct Header;
  Header* header() const;
  static constexpr int kLengthOffsetFromData = 12;
  static char* EmptyData();
  // left + right, with the granularity of `granularitySource`.
  static HxStr Concat(const HxStr& granularitySource, std::string_view left,
                      std::string_view right);
  // A representation for `length` characters; the shared empty one for 0 without granularity.
  static char* Allocate(int length, int granularity);
  static char* NewRep(int length, int granularity);  // always a counted representation
  void Release();
  // True when this object alone holds a counted representation (count 1, or locked).
  bool IsOwned() const;
  void AssignBytes(const char* text, int length);
  void AppendBytes(const char* text, int length);
  void ShareFrom(const HxStr& other);
  void MakeUnique(int minimumCapacity);
  // vsnprintf into a 260-byte stack buffer first, then into a heap buffer of firstHeapSize
  // bytes grown by `step` until the text fits.
  int FormatGrowing(const char* format, va_list args, int firstHeapSize, int step)
      __attribute__((format(printf, 2, 0)));

  char* m_data;
};

// Number of occurrences of `c` in `text`.
int CountOf(std::string_view text, char c);

// Case-insensitive comparison by stricmp rules (ASCII letters folded to lower case): <0, 0, >0.
int CompareNoCase(std::string_view a, std::string_view b);

template <>
struct std::hash<HxStr> {
  size_t operator()(const HxStr& s) const noexcept { return std::hash<std::string_view>()(s); }
};
