// The ".reg" text format: a header line, then blocks of a [key] line and its values
// ("name"="text", dword:0000002a, hex:..., hex(N):..., @ for the unnamed value).
#pragma once
#include <cstdint>
#include <istream>
#include <ostream>
#include <string>

#include "platform/registry.h"

namespace noltreg {

inline constexpr const char* kRegFileHeader = "Windows Registry Editor Version 5.00";

// One value as a .reg line; long hex data continues on indented lines after ",\".
// Data that a quoted text or dword: would not give back byte for byte is written as hex(N).
std::string RegValueText(const platform::RegistryValue& value);

// Writes the header, then the key and every key below it.
uint32_t ExportTree(const platform::RegistryKey& key, std::ostream& out);

// Applies a .reg text: [KEY] creates a key, [-KEY] deletes a tree, "name"=- deletes a value.
// On failure error is one line naming the line number; what came before stays applied.
bool ImportRegText(std::istream& in, std::string& error);

}  // namespace noltreg
