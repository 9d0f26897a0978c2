#include "foundation/kv/hx_kv_list.h"

#include <climits>

#include "foundation/kv/hx_stream.h"
#include "foundation/kv/kv_text.h"
#include "foundation/log/hx_trace.h"

namespace {

// atol without overflow check: the value wraps in 32 bits.
int32_t ParseAtol(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && kvtext::IsSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  uint32_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10u + static_cast<uint32_t>(text[i] - '0');
  }
  return static_cast<int32_t>(negative ? 0u - value : value);
}

// The index that `key` stands for when it is exactly NumberedKey(index, prefix), else -1.
int NumberedIndexOf(std::string_view key, std::string_view prefix) {
  if (key.size() < prefix.size() + 4 || CompareNoCase(key.substr(0, prefix.size()), prefix) != 0) {
    return -1;
  }
  const std::string_view digits = key.substr(prefix.size());
  long long index = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return -1;
    index = index * 10 + (c - '0');
    if (index > INT_MAX) return -1;
  }
  // "00012" is not a key that formatting produces for 12.
  if (digits.size() > 4 && digits[0] == '0') return -1;
  return static_cast<int>(index);
}

}  // namespace

HxStr NumberedKey(int index, const char* prefix) {
  HxStr key;
  if (prefix != nullptr) {
    key.Format("%s%04d", prefix, index);
  } else {
    key.Format("%04d", index);
  }
  return key;
}

// ---- reads ----------------------------------------------------------------------------------

bool HxKVList::GetInt(std::string_view key, int32_t& out) const {
  const auto it = find(key);
  if (it == end() || it->second.IsEmpty()) return false;
  out = ParseAtol(it->second);
  return true;
}

bool HxKVList::GetUInt(std::string_view key, uint32_t& out) const {
  const auto it = find(key);
  if (it == end() || it->second.IsEmpty() || it->second[0] == '-') return false;
  out = static_cast<uint32_t>(ParseAtol(it->second));
  return true;
}

bool HxKVList::GetBool(std::string_view key, bool& out) const {
  int32_t value = 0;
  if (!GetInt(key, value)) return false;
  out = value != 0;
  return true;
}

bool HxKVList::Get(std::string_view key, HxStr& out) const {
  const auto it = find(key);
  if (it == end()) return false;
  out = it->second;
  return true;
}

// ---- inserts --------------------------------------------------------------------------------

bool HxKVList::Set(const HxStr& key, const HxStr& value) { return emplace(key, value).second; }

bool HxKVList::SetInt(const HxStr& key, int32_t value) {
  HxStr text;
  text.Format("%d", value);
  return Set(key, text);
}

bool HxKVList::SetUInt(const HxStr& key, uint32_t value) {
  HxStr text;
  text.Format("%u", value);
  return Set(key, text);
}

bool HxKVList::SetBool(const HxStr& key, bool value) { return Set(key, value ? "1" : "0"); }

bool HxKVList::PutInt(const HxStr& key, int32_t value) {
  erase(key);
  return SetInt(key, value);
}

bool HxKVList::PutUInt(const HxStr& key, uint32_t value) {
  erase(key);
  return SetUInt(key, value);
}

bool HxKVList::PutBool(const HxStr& key, bool value) {
  erase(key);
  return SetBool(key, value);
}

bool HxKVList::Put(const HxStr& key, const HxStr& value) {
  erase(key);
  return Set(key, value);
}

// ---- numbered keys --------------------------------------------------------------------------

bool HxKVList::GetIntN(int index, int32_t& out, const char* prefix) const {
  return GetInt(NumberedKey(index, prefix), out);
}
bool HxKVList::GetUIntN(int index, uint32_t& out, const char* prefix) const {
  return GetUInt(NumberedKey(index, prefix), out);
}
bool HxKVList::GetBoolN(int index, bool& out, const char* prefix) const {
  return GetBool(NumberedKey(index, prefix), out);
}
bool HxKVList::GetN(int index, HxStr& out, const char* prefix) const {
  return Get(NumberedKey(index, prefix), out);
}
bool HxKVList::SetN(int index, const HxStr& value, const char* prefix) {
  return Set(NumberedKey(index, prefix), value);
}
bool HxKVList::SetIntN(int index, int32_t value, const char* prefix) {
  return SetInt(NumberedKey(index, prefix), value);
}
bool HxKVList::SetUIntN(int index, uint32_t value, const char* prefix) {
  return SetUInt(NumberedKey(index, prefix), value);
}
bool HxKVList::SetBoolN(int index, bool value, const char* prefix) {
  return SetBool(NumberedKey(index, prefix), value);
}

bool HxKVList::EraseRun(const char* prefix) {
  // The first present index: the smallest index among the keys of numbered form.
  const std::string_view prefixText = prefix != nullptr ? prefix : "";
  int first = -1;
  for (const auto& entry : *this) {
    const int index = NumberedIndexOf(entry.first, prefixText);
    if (index >= 0 && (first < 0 || index < first)) first = index;
  }
  if (first < 0) return true;
  for (int index = first; erase(NumberedKey(index, prefix)) != 0 && index < INT_MAX; ++index) {
  }
  return true;
}

bool HxKVList::EraseRun() { return EraseRun(nullptr); }

bool HxKVList::Merge(const HxKVList& other, bool overwrite) {
  bool allInserted = true;
  for (const auto& [key, value] : other) {
    const auto present = find(std::string_view(key));
    if (present != end()) {
      if (!overwrite) continue;
      erase(present);
    }
    allInserted = emplace(key, value).second && allInserted;
  }
  return allInserted;
}

// ---- text form ------------------------------------------------------------------------------

bool HxKVList::Read(HxStream& stream) {
  const size_t bodyStart = stream.Tell();
  bool wholeLineMode = false;
  std::vector<char> buffer;
  std::string_view line;
  for (size_t lineStart = stream.Tell(); stream.ReadWholeLine(buffer, line);
       lineStart = stream.Tell()) {
    if (line[0] == '[') {  // the next section's header belongs to the section parser
      stream.Seek(lineStart);
      break;
    }
    if (line[0] == ';') continue;
    line = kvtext::TrimRight(line);
    if (line.empty()) continue;
    HxStr key;
    HxStr value;
    const size_t equals = wholeLineMode ? std::string_view::npos : line.find('=');
    if (equals == std::string_view::npos) {
      key = line;
    } else {
      key = line.substr(0, equals);
      value = line.substr(equals + 1);
    }
    if (!wholeLineMode && Contains(key)) {
      // A duplicate key: read the whole body again, every line a key of its own.
      clear();
      wholeLineMode = true;
      stream.Seek(bodyStart);
      continue;
    }
    HxTrace::Instance().TraceL8(kTraceFiles, "Value: <%s>=<%s>\n", key.c_str(), value.c_str());
    emplace(std::move(key), std::move(value));
  }
  return true;
}

bool HxKVList::Write(HxStream* stream, bool carriageReturn, size_t& total) const {
  const std::string_view lineEnd = carriageReturn ? "\r\n" : "\n";
  total = 0;
  for (const auto& [key, value] : *this) {
    // A key that holds '=' came from a whole-line read: key and value join without '='.
    const std::string_view separator = key.Find('=') >= 0 ? "" : "=";
    kvtext::WriteParts(stream, {key, separator, value, lineEnd}, total);
  }
  return true;
}

bool SplitToList(std::string_view text, char separator, HxKVList& list) {
  int index = 0;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == separator || text[i] == '\n') {
      list.SetN(index++, HxStr(text.substr(start, i - start)));
      start = i + 1;
    }
  }
  if (start < text.size()) list.SetN(index, HxStr(text.substr(start)));
  return true;
}
