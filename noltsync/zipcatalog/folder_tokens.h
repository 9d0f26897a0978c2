// The folder-token form of a path: well-known folders replaced by their macro tokens
// ("%SF_COMMON_APPDATA%..."), so that a stored path stays valid for another user or layout.
#pragma once
#include <string_view>

#include "foundation/strings/hx_str.h"

HxStr ToFolderTokens(std::string_view path);
HxStr FromFolderTokens(std::string_view text);
