#include "reg_file.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <vector>

#include "error_text.h"
#include "foundation/kv/encoded_text_file.h"
#include "foundation/strings/utf8.h"
#include "key_name.h"
#include "key_tree.h"
#include "platform/errors.h"
#include "value_text.h"

namespace noltreg {

using platform::RegistryKey;
using platform::RegistryValue;
using Bytes = std::vector<uint8_t>;

namespace {

constexpr size_t kLineWidth = 80;
constexpr const char* kOldRegFileHeader = "REGEDIT4";

std::string Quoted(const std::string& text) {
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') quoted += '\\';
    quoted += c;
  }
  return quoted + '"';
}

// Decodes the character at pos; false when its bytes are not the well-formed UTF-8 of one
// character (a stray byte, an overlong form, a surrogate), which UTF-16 would not give back.
bool DecodeWellFormed(std::string_view text, size_t& pos, uint32_t& code) {
  size_t start = pos;
  code = utf8::DecodeAt(text, pos);
  std::string again;
  utf8::Append(again, code);
  return again == text.substr(start, pos - start);
}

std::string_view AsText(const Bytes& data) {
  return std::string_view(reinterpret_cast<const char*>(data.data()), data.size());
}

// True when "text" with its terminator is exactly the data, also once in UTF-16.
bool IsPlainText(const Bytes& data) {
  if (data.empty() || data.back() != 0) return false;
  std::string_view text = AsText(data).substr(0, data.size() - 1);
  for (size_t pos = 0; pos < text.size();) {
    uint32_t code = 0;
    if (!DecodeWellFormed(text, pos, code) || code == 0 || code == '\r' || code == '\n') return false;
  }
  return true;
}

bool IsTextType(uint32_t type) {
  return type == platform::kRegSz || type == platform::kRegExpandSz ||
         type == platform::kRegMultiSz;
}

// The store's text (UTF-8) as UTF-16LE. A byte that is not part of a well-formed character
// becomes the lone surrogate 0xDC00 + byte, so that any data comes back unchanged.
Bytes WideFromText(const Bytes& data) {
  std::string_view text = AsText(data);
  Bytes wide;
  auto unit = [&wide](uint32_t value) {
    wide.push_back(static_cast<uint8_t>(value & 0xff));
    wide.push_back(static_cast<uint8_t>(value >> 8));
  };
  for (size_t pos = 0; pos < text.size();) {
    size_t start = pos;
    uint32_t code = 0;
    if (!DecodeWellFormed(text, pos, code)) {
      for (; start < pos; ++start) unit(0xDC00 + static_cast<uint8_t>(text[start]));
    } else if (code >= 0x10000) {
      unit(0xD800 + ((code - 0x10000) >> 10));
      unit(0xDC00 + ((code - 0x10000) & 0x3ff));
    } else {
      unit(code);
    }
  }
  return wide;
}

// UTF-16LE data back to the store's text. An odd last byte is kept as it is.
Bytes TextFromWide(const Bytes& wide) {
  std::string text;
  size_t units = wide.size() / 2;
  auto unitAt = [&wide](size_t i) { return wide[2 * i] | (static_cast<uint32_t>(wide[2 * i + 1]) << 8); };
  for (size_t i = 0; i < units; ++i) {
    uint32_t unit = unitAt(i);
    uint32_t next = i + 1 < units ? unitAt(i + 1) : 0;
    if (unit >= 0xD800 && unit <= 0xDBFF && next >= 0xDC00 && next <= 0xDFFF) {
      utf8::Append(text, 0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00));
      ++i;
    } else if (unit >= 0xDC80 && unit <= 0xDCFF) {
      text += static_cast<char>(unit - 0xDC00);  // a byte that was no character
    } else {
      utf8::Append(text, unit);
    }
  }
  if (wide.size() % 2 != 0) text += static_cast<char>(wide.back());
  return Bytes(text.begin(), text.end());
}

std::string HexList(std::string line, const Bytes& data) {
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

// Writes UTF-8 text in the file's encoding, each "\n" as its line end.
class RegTextWriter {
 public:
  RegTextWriter(std::ostream& out, RegFileEncoding encoding)
      : out_(out), wide_(encoding == RegFileEncoding::kUtf16) {
    if (wide_) out_.write("\xFF\xFE", 2);
  }

  void Write(std::string_view text) {
    if (!wide_) {
      out_ << text;
      return;
    }
    std::string bytes;
    for (size_t start = 0; start < text.size();) {
      size_t end = std::min(text.find('\n', start), text.size());
      utf8::AppendUtf16Le(bytes, text.substr(start, end - start));
      if (end < text.size()) bytes.append("\r\0\n\0", 4);
      start = end + 1;
    }
    out_.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }

 private:
  std::ostream& out_;
  bool wide_;
};

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

bool HexBytes(std::string_view list, Bytes& data) {
  data.clear();
  list = Trimmed(list);
  while (!list.empty()) {
    std::string_view::size_type comma = list.find(',');
    Bytes byte;
    if (!BytesFromHex(Trimmed(list.substr(0, comma)), byte) || byte.size() != 1) return false;
    data.push_back(byte[0]);
    list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
  }
  return true;
}

// The part after '=': a quoted text, dword:, hex: or hex(N):. Text types in hex form are UTF-16
// in a version 5 file and the text itself in a REGEDIT4 one.
bool ParseData(std::string_view text, bool wideText, RegistryValue& value) {
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
  if (!HexBytes(text, value.data)) return false;
  if (wideText && IsTextType(value.type)) value.data = TextFromWide(value.data);
  return true;
}

// Applies the logical lines of a file, the header first; false with a reason on failure.
class Importer {
 public:
  bool HeaderSeen() const { return version_ != 0; }

  bool Line(std::string_view line, std::string& reason) {
    if (!HeaderSeen()) {
      version_ = line == kRegFileHeader ? 5 : line == kOldRegFileHeader ? 4 : 0;
      if (!HeaderSeen()) reason = "not a registry file";
      return HeaderSeen();
    }
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
    } else if (!ParseData(rest, version_ == 5, value)) {
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
    if (!remove) {
      return Succeeded(current_.Create(key.root, key.subKey, platform::kKeyAllAccess), reason);
    }
    if (key.subKey.empty()) {
      reason = kRootKeyNotDeleted;
      return false;
    }
    RegistryKey root;
    uint32_t error = root.Open(key.root, "", platform::kKeyAllAccess);
    if (error == platform::kErrorSuccess) error = root.DeleteTree(key.subKey);
    return Succeeded(error == platform::kErrorFileNotFound ? platform::kErrorSuccess : error, reason);
  }

  static bool Succeeded(uint32_t error, std::string& reason) {
    if (error != platform::kErrorSuccess) reason = ErrorText(error).substr(7);  // without "ERROR: "
    return error == platform::kErrorSuccess;
  }

  int version_ = 0;  // of the header: 5, or 4 for REGEDIT4
  RegistryKey current_;
};

// Whole lines of a text file in UTF-8, without their line ends.
class LineReader {
 public:
  bool Open(const std::string& path) { return reader_.Open(path); }
  bool Failed() const { return reader_.Failed(); }

  bool Next(std::string& line) {
    line.clear();
    std::string chunk;
    bool lineStart = false;
    bool any = false;
    while ((line.empty() || line.back() != '\n') && reader_.ReadChunk(chunk, lineStart)) {
      line += chunk;
      any = true;
    }
    if (!line.empty() && line.back() == '\n') line.pop_back();
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return any;
  }

 private:
  EncodedTextReader reader_;
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
  return HexList(line + prefix, IsTextType(value.type) ? WideFromText(value.data) : value.data);
}

uint32_t ExportTree(const RegistryKey& key, std::ostream& out, RegFileEncoding encoding) {
  RegTextWriter writer(out, encoding);
  writer.Write(std::string(kRegFileHeader) + "\n");
  uint32_t error = WalkKeys(key, true, [&writer](const RegistryKey& current, const auto&) -> uint32_t {
    writer.Write("\n[" + current.Path() + "]\n");
    RegistryValue value;
    uint32_t result = platform::kErrorSuccess;
    for (uint32_t i = 0; (result = current.EnumValue(i, value)) == platform::kErrorSuccess; ++i) {
      writer.Write(RegValueText(value) + "\n");
    }
    return result == platform::kErrorNoMoreItems ? platform::kErrorSuccess : result;
  });
  writer.Write("\n");
  return error;
}

bool ImportRegFile(const std::string& path, std::string& error) {
  error.clear();
  LineReader lines;
  if (!lines.Open(path)) {
    error = "ERROR: Cannot open " + path + ".";
    return false;
  }
  // Nothing of the file stays unless all of it applies.
  platform::RegistryTransaction transaction;
  Importer importer;
  std::string line;
  std::string next;
  for (int number = 1; lines.Next(line); ++number) {
    int first = number;
    // Hex data continues on the next line after a trailing backslash.
    while (!line.empty() && line.front() != '[' && line.back() == '\\' && lines.Next(next)) {
      ++number;
      line.pop_back();
      line += Trimmed(next);
    }
    std::string_view text = Trimmed(line);
    if (text.empty() || text.front() == ';') continue;
    std::string reason;
    if (!importer.Line(text, reason)) {
      // Reasons from the error table end in a full stop already.
      error = "ERROR: line " + std::to_string(first) + ": " + reason +
              (!reason.empty() && reason.back() == '.' ? "" : ".");
      return false;
    }
  }
  uint32_t result = platform::kErrorSuccess;
  if (lines.Failed()) {
    error = "ERROR: Cannot read " + path + ".";
  } else if (!importer.HeaderSeen()) {
    error = "ERROR: not a registry file.";
  } else if ((result = transaction.Commit()) != platform::kErrorSuccess) {
    error = ErrorText(result);
  }
  return error.empty();
}

}  // namespace noltreg
