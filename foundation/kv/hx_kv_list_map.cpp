#include "foundation/kv/hx_kv_list_map.h"

#include <vector>

#include "foundation/kv/hx_kv_file.h"
#include "foundation/kv/hx_stream.h"
#include "foundation/kv/kv_text.h"
#include "foundation/log/hx_trace.h"

HxStr ParseSectionName(std::string_view line) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  const size_t close = line.find(']');
  if (close != std::string_view::npos && line.find(';', close + 1) != std::string_view::npos) {
    line = line.substr(0, close + 1);
  }
  while (!line.empty() && line.front() == '[') line.remove_prefix(1);
  line = kvtext::TrimRight(line);
  while (!line.empty() && line.front() == ']') line.remove_prefix(1);
  while (!line.empty() && line.back() == ']') line.remove_suffix(1);
  return HxStr(line);
}

bool HxKVListMap::Load(std::string_view path) {
  clear();
  if (path.empty()) return false;
  HxKvFile file;
  if (!file.LoadFrom(path)) return false;
  return Read(file);
}

bool HxKVListMap::Save(std::string_view path) const {
  size_t total = 0;
  Write(nullptr, false, total);
  HxKvFile file;
  file.Reserve(total + 1);
  Write(&file, false, total);
  file.RewindToFirstZero();
  return file.SaveTo(path);
}

bool HxKVListMap::Read(HxStream& stream) {
  std::vector<char> buffer;
  std::string_view line;
  while (stream.ReadWholeLine(buffer, line)) {
    if (line[0] != '[') continue;  // comments, and body lines before the first header
    const HxStr name = ParseSectionName(line);
    HxKVList section;
    if (!section.Read(stream)) return false;
    if (find(std::string_view(name)) != end()) continue;
    HxTrace::Instance().TraceL8(kTraceFiles, "Insert: %s %d\n", name.c_str(),
                                static_cast<int>(section.size()));
    emplace(name, std::move(section));
  }
  return true;
}

bool HxKVListMap::Write(HxStream* stream, bool carriageReturn, size_t& total) const {
  const std::string_view lineEnd = carriageReturn ? "\r\n" : "\n";
  total = 0;
  for (const auto& [name, section] : *this) {
    kvtext::WriteParts(stream, {"[", name, "]", lineEnd}, total);
    size_t bodyBytes = 0;
    section.Write(stream, carriageReturn, bodyBytes);
    total += bodyBytes;
  }
  return true;
}

HxKVList* HxKVListMap::GetSection(std::string_view name) {
  const auto it = find(name);
  return it == end() ? nullptr : &it->second;
}

const HxKVList* HxKVListMap::GetSection(std::string_view name) const {
  const auto it = find(name);
  return it == end() ? nullptr : &it->second;
}

HxKVList& HxKVListMap::AddSection(const HxStr& name) { return (*this)[name]; }
