// The well-known folders by number (0..30), each with its macro token ("%SF_APPDATA%"). Most
// are read from the shell-folder values of the registry; the rest come from the platform.
#pragma once
#include "foundation/strings/hx_str.h"

inline constexpr int kFolderWindows = 0;
inline constexpr int kFolderTemp = 2;
inline constexpr int kFolderLocalAppData = 16;
inline constexpr int kFolderAppData = 17;
inline constexpr int kFolderCommonAppData = 22;
inline constexpr int kFolderMachineName = 26;
inline constexpr int kFolderProfiles = 30;
inline constexpr int kSystemFolderCount = 31;

// The folder's path (for 24 the user name, for 26 the computer name); empty when it cannot be
// found or the number is not in the table.
HxStr GetSystemFolder(int number);

// The folder's macro token, null for a number not in the table.
const char* SystemFolderToken(int number);
