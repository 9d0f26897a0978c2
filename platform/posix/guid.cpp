#include "platform/guid.h"

#include <sys/random.h>

#include <cerrno>
#include <cstdio>

namespace platform {
namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads `digits` hex digits at text[at]; false on any other character.
bool ReadHex(std::string_view text, size_t at, size_t digits, uint64_t& value) {
  value = 0;
  for (size_t i = 0; i < digits; ++i) {
    int digit = HexDigit(text[at + i]);
    if (digit < 0) return false;
    value = value * 16 + static_cast<uint64_t>(digit);
  }
  return true;
}

}  // namespace

bool NewGuid(Guid& out) {
  uint8_t bytes[16];
  size_t filled = 0;
  while (filled < sizeof bytes) {
    ssize_t got = getrandom(bytes + filled, sizeof bytes - filled, 0);
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    filled += static_cast<size_t>(got);
  }
  bytes[6] = static_cast<uint8_t>((bytes[6] & 0x0F) | 0x40);  // version 4: random
  bytes[8] = static_cast<uint8_t>((bytes[8] & 0x3F) | 0x80);  // the standard variant
  out.data1 = static_cast<uint32_t>(bytes[0]) << 24 | static_cast<uint32_t>(bytes[1]) << 16 |
              static_cast<uint32_t>(bytes[2]) << 8 | bytes[3];
  out.data2 = static_cast<uint16_t>(bytes[4] << 8 | bytes[5]);
  out.data3 = static_cast<uint16_t>(bytes[6] << 8 | bytes[7]);
  for (int i = 0; i < 8; ++i) out.data4[i] = bytes[8 + i];
  return true;
}

std::string GuidToString(const Guid& guid) {
  char text[39];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", guid.data1,
                guid.data2, guid.data3, guid.data4[0], guid.data4[1], guid.data4[2], guid.data4[3],
                guid.data4[4], guid.data4[5], guid.data4[6], guid.data4[7]);
  return text;
}

bool GuidFromString(std::string_view text, Guid& out) {
  if (text.size() != 38 || text.front() != '{' || text.back() != '}' || text[9] != '-' ||
      text[14] != '-' || text[19] != '-' || text[24] != '-') {
    return false;
  }
  Guid guid;
  uint64_t value = 0;
  if (!ReadHex(text, 1, 8, value)) return false;
  guid.data1 = static_cast<uint32_t>(value);
  if (!ReadHex(text, 10, 4, value)) return false;
  guid.data2 = static_cast<uint16_t>(value);
  if (!ReadHex(text, 15, 4, value)) return false;
  guid.data3 = static_cast<uint16_t>(value);
  for (size_t i = 0; i < 8; ++i) {
    size_t at = i < 2 ? 20 + 2 * i : 25 + 2 * (i - 2);
    if (!ReadHex(text, at, 2, value)) return false;
    guid.data4[i] = static_cast<uint8_t>(value);
  }
  out = guid;
  return true;
}

std::string NewGuidString() {
  Guid guid;
  return NewGuid(guid) ? GuidToString(guid) : std::string();
}

}  // namespace platform
