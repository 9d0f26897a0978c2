// Value types and data as text: the names people type, the data of `add -d`, and the data
// column of `query`.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace noltreg {

// "REG_SZ" and the other names of the types the tool knows; false for any other name.
bool TypeFromName(std::string_view name, uint32_t& type);
// The name of a type; a type without a name shows as its number ("0x1234").
std::string TypeName(uint32_t type);

// The bytes for `add -d`: texts get their terminating zero, REG_MULTI_SZ items are separated by
// the two characters "\0", numbers are decimal or 0x hex, REG_BINARY and REG_NONE hex digits.
bool DataFromText(uint32_t type, std::string_view text, std::vector<uint8_t>& data);

// The data column of `query`: texts up to their first zero, REG_MULTI_SZ items joined by "\0",
// numbers of the right size as 0x and lower-case hex, anything else as upper-case hex digits.
std::string DataForDisplay(uint32_t type, const std::vector<uint8_t>& data);

// Hex digit pairs to bytes; false for an odd count or a character that is not a hex digit.
bool BytesFromHex(std::string_view digits, std::vector<uint8_t>& data);

}  // namespace noltreg
