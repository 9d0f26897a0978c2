// Names the process context uses: its own section and keys, and the registry keys it reads.
#pragma once

namespace context_names {

inline constexpr const char* kSection = "SdcContext";
inline constexpr const char* kPathsSection = "Paths";

inline constexpr const char* kProviderId = "ProviderId";
inline constexpr const char* kUserName = "UserName";
inline constexpr const char* kOsUserName = "OSUserName";
inline constexpr const char* kUserHive = "HKCU";
inline constexpr const char* kServer = "DnaServer";
inline constexpr const char* kDirUserServer = "DirUserServer";
inline constexpr const char* kDirSysProfileOld = "DirSysProfile_Old";
inline constexpr const char* kDirSysProfile = "DirSysProfile";
inline constexpr const char* kEncoding = "Encoding";
inline constexpr const char* kTempRoot = "TempRoot";

inline constexpr const char* kDefaultProviderId = "default";
inline constexpr const char* kConfigFile = "config.cfg";

// Registry keys below the hives.
inline constexpr const char* kShellFolders =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
inline constexpr const char* kWindowsVersion = "Software\\Microsoft\\Windows\\CurrentVersion";
inline constexpr const char* kWindowsNtVersion = "Software\\Microsoft\\Windows NT\\CurrentVersion";
inline constexpr const char* kClasses = "Software\\Classes";

}  // namespace context_names
