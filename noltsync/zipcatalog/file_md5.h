// The MD5 of a file's whole content as 32 lower-case hexadecimal digits, read through a
// read-only mapping; "0" when the file cannot be opened or mapped (a directory, an empty or a
// missing file).
#pragma once
#include <string_view>

#include "foundation/strings/hx_str.h"

inline constexpr const char* kNoFileMd5 = "0";

HxStr FileMd5(std::string_view path);
