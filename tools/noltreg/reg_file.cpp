#include "reg_file.h"

#include <charconv>
#include <cstdio>
#include <vector>

#include "error_text.h"
#include "key_name.h"
#include "platform/errors.h"
#include "value_text.h"

namespace noltreg {

using platform::RegistryKey;
using platform::RegistryValue;

namespace {

constexpr size_t kLineWidth = 80;

std::string Quoted(const std::string& text) {
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') quoted += '\\';
    quoted += c;
  }
  return quoted + '"';
}

// True when "text" with its terminator is exactly the data.
bool IsPlainText(const std::vector<uint8_t>& data) {
  if (data.empty() || data.back() != 0) return false;
  for (size_t i = 0; i + 1 < data.size(); ++i) {
    if (data[i] == 0 || data[i] == '\r' || data[i] == '\n') return false;
  }
  return true;
}

std::string HexList(std::string line, const std::vector<uint8_t>& data) {
  size_t lineStart = 0;
  for (size_t i = 0; i < data.size(); ++i) {
    char piece[4];
    std::snprintf(piece, sizeof piece, i + 1 < data.size() ? "%02x," : "%02x", data[i]);
    if (i > 0 && line.size() - lineStart + 3 + 1 > kLineWidth) {
      line += "\\\n  ";
      lineStart = line.size() - 2;
    }
    line += piece;
  }
  return line;
}

uint32_t ExportKey(const RegistryKey& key, std::ostream& out) {
  out << "\n[" << key.Path() << "]\n";
  RegistryValue value;
  uint32_t error = platform::kErrorSuccess;
  for (uint32_t i = 0; (error = key.EnumValue(i, value)) == platform::kErrorSuccess; ++i) {
    out << RegValueText(value) << '\n';
  }
  std::string name;
  for (uint32_t i = 0; error == platform::kErrorNoMoreItems; ++i) {
    error = key.EnumKey(i, name);
    if (error != platform::kErrorSuccess) break;
    RegistryKey child;
    error = child.Open(key, name, platform::kKeyRead);
    if (error == platform::kErrorSuccess) error = ExportKey(child, out);
    if (error == platform::kErrorSuccess) error = platform::kErrorNoMoreItems;
  }
  return error == platform::kErrorNoMoreItems ? platform::kErrorSuccess : error;
}

// Reads a quoted text at the start of text (backslash escapes) and moves past it.
bool TakeQuoted(std::string_view& text, std::string& out) {
  if (text.empty() || text.front() != '"') return false;
  out.clear();
  for (size_t i = 1; i < text.size(); ++i) {
    if (text[i] == '"') {
      text.remove_prefix(i + 1);
      return true;
    }
    if (text[i] == '\\' && i + 1 < text.size()) ++i;
    out += text[i];
  }
  return false;
}

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

bool HexBytes(std::string_view list, std::vector<uint8_t>& data) {
  data.clear();
  list = Trimmed(list);
  while (!list.empty()) {
    std::string_view::size_type comma = list.find(',');
    std::vector<uint8_t> byte;
    if (!BytesFromHex(Trimmed(list.substr(0, comma)), byte) || byte.size() != 1) return false;
    data.push_back(byte[0]);
    list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
  }
  return true;
}

// The part after '=': a quoted text, dword:, hex: or hex(N):.
bool ParseData(std::string_view text, RegistryValue& value) {
  std::string quoted;
  if (TakeQuoted(text, quoted)) {
    value.type = platform::kRegSz;
    value.data = platform::RegistryStringData(quoted);
    return Trimmed(text).empty();
  }
  if (text.substr(0, 6) == "dword:") {
    value.type = platform::kRegDword;
    text.remove_prefix(6);
    return text.size() == 8 && DataFromText(value.type, "0x" + std::string(text), value.data);
  }
  value.type = platform::kRegBinary;
  if (text.substr(0, 4) == "hex(") {
    std::string_view::size_type close = text.find("):");
    if (close == std::string_view::npos) return false;
    const char* end = text.data() + close;
    auto [stop, error] = std::from_chars(text.data() + 4, end, value.type, 16);
    if (error != std::errc() || stop != end) return false;
    text.remove_prefix(close + 2);
  } else if (text.substr(0, 4) == "hex:") {
    text.remove_prefix(4);
  } else {
    return false;
  }
  return HexBytes(text, value.data);
}

// Applies one logical line to the registry; false with a reason on failure.
class Importer {
 public:
  bool Line(std::string_view line, std::string& reason) {
    if (line.front() == '[') return KeyLine(line, reason);
    if (!current_.IsOpen()) {
      reason = "a value before any key";
      return false;
    }
    RegistryValue value;
    std::string_view rest = line;
    if (rest.substr(0, 2) == "@=") {
      rest.remove_prefix(1);
    } else if (!TakeQuoted(rest, value.name) || rest.empty() || rest.front() != '=') {
      reason = "not a value line";
      return false;
    }
    rest = Trimmed(rest.substr(1));
    uint32_t error = platform::kErrorSuccess;
    if (rest == "-") {
      error = current_.DeleteValue(value.name);
      if (error == platform::kErrorFileNotFound) error = platform::kErrorSuccess;
    } else if (!ParseData(rest, value)) {
      reason = "the data cannot be read";
      return false;
    } else {
      error = current_.SetValue(value.name, value.type, value.data.data(),
                                static_cast<uint32_t>(value.data.size()));
    }
    return Succeeded(error, reason);
  }

 private:
  bool KeyLine(std::string_view line, std::string& reason) {
    current_.Close();
    if (line.back() != ']') {
      reason = "a key line without its closing bracket";
      return false;
    }
    line = line.substr(1, line.size() - 2);
    bool remove = !line.empty() && line.front() == '-';
    KeyName key;
    if (!ParseKeyName(line.substr(remove ? 1 : 0), key)) {
      reason = "an unknown root key";
      return false;
    }
    RegistryKey root;
    if (!remove) return Succeeded(current_.Create(key.root, key.subKey, platform::kKeyAllAccess), reason);
    uint32_t error = root.Open(key.root, "", platform::kKeyAllAccess);
    if (error == platform::kErrorSuccess) error = root.DeleteTree(key.subKey);
    return Succeeded(error == platform::kErrorFileNotFound ? platform::kErrorSuccess : error, reason);
  }

  static bool Succeeded(uint32_t error, std::string& reason) {
    if (error != platform::kErrorSuccess) reason = ErrorText(error).substr(7);  // without "ERROR: "
    return error == platform::kErrorSuccess;
  }

  RegistryKey current_;
};

}  // namespace

std::string RegValueText(const RegistryValue& value) {
  std::string line = value.name.empty() ? "@=" : Quoted(value.name) + "=";
  if (value.type == platform::kRegSz && IsPlainText(value.data)) {
    return line + Quoted(std::string(value.data.begin(), value.data.end() - 1));
  }
  if (value.type == platform::kRegDword && value.data.size() == 4) {
    char number[16];
    std::snprintf(number, sizeof number, "dword:%02x%02x%02x%02x", value.data[3], value.data[2],
                  value.data[1], value.data[0]);
    return line + number;
  }
  char prefix[24];
  std::snprintf(prefix, sizeof prefix, value.type == platform::kRegBinary ? "hex:" : "hex(%x):",
                value.type);
  return HexList(line + prefix, value.data);
}

uint32_t ExportTree(const RegistryKey& key, std::ostream& out) {
  out << kRegFileHeader << '\n';
  uint32_t error = ExportKey(key, out);
  out << '\n';
  return error;
}

bool ImportRegText(std::istream& in, std::string& error) {
  Importer importer;
  std::string line;
  bool headerSeen = false;
  for (int number = 1; std::getline(in, line); ++number) {
    int first = number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (first == 1 && line.rfind("\xEF\xBB\xBF", 0) == 0) line.erase(0, 3);
    // Hex data continues on the next line after a trailing backslash.
    std::string next;
    while (!line.empty() && line.front() != '[' && line.back() == '\\' && std::getline(in, next)) {
      ++number;
      if (!next.empty() && next.back() == '\r') next.pop_back();
      line.pop_back();
      line += Trimmed(next);
    }
    std::string_view text = Trimmed(line);
    if (text.empty() || text.front() == ';') continue;
    std::string reason;
    if (!headerSeen) {
      headerSeen = text == kRegFileHeader || text == "REGEDIT4";
      if (headerSeen) continue;
      reason = "not a registry file";
    } else if (importer.Line(text, reason)) {
      continue;
    }
    error = "ERROR: line " + std::to_string(first) + ": " + reason + ".";
    return false;
  }
  if (!headerSeen) error = "ERROR: not a registry file.";
  return headerSeen;
}

}  // namespace noltreg
