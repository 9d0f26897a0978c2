// The ".reg" text format: a header line, then blocks of a [key] line and its values
// ("name"="text", dword:0000002a, hex:..., hex(N):..., @ for the unnamed value).
#pragma once
#include <cstdint>
#include <ostream>
#include <string>

#include "platform/registry.h"

namespace noltreg {

inline constexpr const char* kRegFileHeader = "Windows Registry Editor Version 5.00";

// UTF-16LE with a byte-order mark and CRLF line ends, as Windows writes .reg files; or UTF-8
// with LF line ends.
enum class RegFileEncoding { kUtf16, kUtf8 };

// One value as a .reg line; long hex data continues on indented lines after ",\".
// Data that a quoted text or dword: would not give back byte for byte is written as hex(N).
// Text types in hex form (hex(1), hex(2), hex(7)) are UTF-16LE, as Windows writes them.
std::string RegValueText(const platform::RegistryValue& value);

// Writes the file: the header, then the key and every key below it.
uint32_t ExportTree(const platform::RegistryKey& key, std::ostream& out, RegFileEncoding encoding);

// Applies a .reg file (UTF-16LE, UTF-8 or ANSI): [KEY] creates a key, [-KEY] deletes a tree,
// "name"=- deletes a value. The whole file is one transaction: on failure nothing of it stays,
// and error is one line, naming the line number where there is one.
bool ImportRegFile(const std::string& path, std::string& error);

}  // namespace noltreg
