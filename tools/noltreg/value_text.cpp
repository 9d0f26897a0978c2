#include "value_text.h"

#include <charconv>
#include <cstdio>

#include "platform/registry.h"

namespace noltreg {

namespace {

struct TypeEntry {
  const char* name;
  uint32_t type;
};

constexpr TypeEntry kTypes[] = {
    {"REG_NONE", platform::kRegNone},         {"REG_SZ", platform::kRegSz},
    {"REG_EXPAND_SZ", platform::kRegExpandSz}, {"REG_BINARY", platform::kRegBinary},
    {"REG_DWORD", platform::kRegDword},       {"REG_MULTI_SZ", platform::kRegMultiSz},
    {"REG_QWORD", platform::kRegQword},
};

// A decimal number, or hex after "0x", that fits below limit.
bool ParseNumber(std::string_view text, uint64_t limit, uint64_t& value) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  const char* end = text.data() + text.size();
  auto [stop, error] = std::from_chars(text.data(), end, value, base);
  return !text.empty() && error == std::errc() && stop == end && value <= limit;
}

std::string UpperHex(const std::vector<uint8_t>& data) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (uint8_t byte : data) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0xf];
  }
  return text;
}

}  // namespace

bool TypeFromName(std::string_view name, uint32_t& type) {
  for (const TypeEntry& entry : kTypes) {
    if (name == entry.name) {
      type = entry.type;
      return true;
    }
  }
  return false;
}

std::string TypeName(uint32_t type) {
  for (const TypeEntry& entry : kTypes) {
    if (entry.type == type) return entry.name;
  }
  char number[16];
  std::snprintf(number, sizeof number, "0x%x", type);
  return number;
}

bool BytesFromHex(std::string_view digits, std::vector<uint8_t>& data) {
  if (digits.size() % 2 != 0) return false;
  data.clear();
  for (size_t i = 0; i < digits.size(); i += 2) {
    uint8_t byte = 0;
    const char* end = digits.data() + i + 2;
    auto [stop, error] = std::from_chars(digits.data() + i, end, byte, 16);
    if (error != std::errc() || stop != end) return false;
    data.push_back(byte);
  }
  return true;
}

bool DataFromText(uint32_t type, std::string_view text, std::vector<uint8_t>& data) {
  uint64_t number = 0;
  switch (type) {
    case platform::kRegSz:
    case platform::kRegExpandSz:
      data = platform::RegistryStringData(text);
      return true;
    case platform::kRegMultiSz:
      data.clear();
      while (!text.empty()) {
        std::string_view::size_type separator = text.find("\\0");
        std::string_view item = text.substr(0, separator);
        data.insert(data.end(), item.begin(), item.end());
        data.push_back(0);
        text = separator == std::string_view::npos ? std::string_view() : text.substr(separator + 2);
      }
      data.push_back(0);
      return true;
    case platform::kRegDword:
      if (!ParseNumber(text, UINT32_MAX, number)) return false;
      data = platform::RegistryDwordData(static_cast<uint32_t>(number));
      return true;
    case platform::kRegQword:
      if (!ParseNumber(text, UINT64_MAX, number)) return false;
      data = platform::RegistryQwordData(number);
      return true;
    default:
      return BytesFromHex(text, data);
  }
}

std::string DataForDisplay(uint32_t type, const std::vector<uint8_t>& data) {
  std::string bytes(data.begin(), data.end());
  size_t numberSize = type == platform::kRegDword ? 4 : type == platform::kRegQword ? 8 : 0;
  if (type == platform::kRegSz || type == platform::kRegExpandSz) {
    return bytes.substr(0, bytes.find('\0'));
  }
  if (type == platform::kRegMultiSz) {
    std::string shown;
    for (size_t start = 0; start < bytes.size();) {
      size_t end = bytes.find('\0', start);
      if (end == std::string::npos) end = bytes.size();
      if (end == start) break;  // the empty item that ends the list
      if (!shown.empty()) shown += "\\0";
      shown += bytes.substr(start, end - start);
      start = end + 1;
    }
    return shown;
  }
  if (numberSize != 0 && data.size() == numberSize) {
    uint64_t value = 0;
    for (size_t i = numberSize; i-- > 0;) value = (value << 8) | data[i];
    char text[24];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
    return text;
  }
  return UpperHex(data);
}

}  // namespace noltreg
