#include "foundation/context/system_folders.h"

#include "foundation/context/context_names.h"
#include "foundation/context/context_registry.h"
#include "foundation/context/context_store.h"
#include "foundation/context/directory_layout.h"
#include "platform/files.h"
#include "platform/identity.h"
#include "platform/locations.h"
#include "platform/registry.h"

namespace names = context_names;

namespace {

enum class Source {
  kWindows,         // the Windows folder
  kSystem,          // the system folder
  kTemp,            // the system's temporary directory
  kMachineVersion,  // a value of HKLM "...\Windows\CurrentVersion"
  kUserShell,       // a shell folder of the user's hive
  kCommonShell,     // a shell folder of the machine's hive
  kCommonAppData,   // the same, replaced by the platform's when the folder does not exist
  kNtVersion,       // a value of HKLM "...\Windows NT\CurrentVersion"
  kUser,            // the context's user name
  kMachineName,     // the computer name
  kProfile,         // the user's profile folder
  kProfiles,        // the folder of the local profiles
};

struct Folder {
  const char* token;
  Source source;
  const char* valueName;
};

// The home drive is the system drive: the prefix of rooted paths.
constexpr Folder kFolders[kSystemFolderCount] = {
    {"%windir%", Source::kWindows, nullptr},
    {"%winsys%", Source::kSystem, nullptr},
    {"%TEMP%", Source::kTemp, nullptr},
    {"%ProgramFiles%", Source::kMachineVersion, "ProgramFilesDir"},
    {"%CommonFiles%", Source::kMachineVersion, "CommonFilesDir"},
    {"%SF_FAVORITES%", Source::kUserShell, "Favorites"},
    {"%SF_FONTS%", Source::kUserShell, "Fonts"},
    {"%SF_NETHOOD%", Source::kUserShell, "NetHood"},
    {"%SF_PERSONAL%", Source::kUserShell, "Personal"},
    {"%SF_RECENT%", Source::kUserShell, "Recent"},
    {"%SF_SENDTO%", Source::kUserShell, "SendTo"},
    {"%SF_TEMPLATES%", Source::kUserShell, "Templates"},
    {"%SF_PROGRAMS%", Source::kUserShell, "Programs"},
    {"%SF_DESKTOP%", Source::kUserShell, "Desktop"},
    {"%SF_STARTMENU%", Source::kUserShell, "Start Menu"},
    {"%SF_STARTUP%", Source::kUserShell, "Startup"},
    {"%SF_APPDATA%", Source::kUserShell, "Local AppData"},
    {"%SF_OS_APPDATA%", Source::kUserShell, "AppData"},
    {"%SF_COMMON_PROGRAMS%", Source::kCommonShell, "Common Programs"},
    {"%SF_COMMON_DESKTOP%", Source::kCommonShell, "Common Desktop"},
    {"%SF_COMMON_STARTMENU%", Source::kCommonShell, "Common Start Menu"},
    {"%SF_COMMON_STARTUP%", Source::kCommonShell, "Common Startup"},
    {"%SF_COMMON_APPDATA%", Source::kCommonAppData, "Common AppData"},
    {"%SF_COMMON_APPDAT%", Source::kCommonAppData, "Common AppData"},
    {"%User%", Source::kUser, nullptr},
    {"%HomeDrive%", Source::kNtVersion, "SystemDrive"},
    {"%MachineName%", Source::kMachineName, nullptr},
    {"%SystemRoot%", Source::kNtVersion, "SystemRoot"},
    {"%SystemDrive%", Source::kNtVersion, "SystemDrive"},
    {"%SdcProfile%", Source::kProfile, nullptr},
    {"%DirProfiles%", Source::kProfiles, nullptr},
};

HxStr Read(uint32_t root, const char* path, const char* name) {
  HxStr text;
  context_registry::ReadText(root, path, name, text);
  return text;
}

// The machine's shell folders, or the user's when the machine's key cannot be opened.
HxStr CommonShellFolder(const char* name) {
  platform::RegistryKey key;
  if (!context_registry::OpenForReading(key, platform::kHkeyLocalMachine, names::kShellFolders) &&
      !context_registry::OpenForReading(key, platform::kHkeyCurrentUser, names::kShellFolders)) {
    return HxStr();
  }
  HxStr text;
  context_registry::ReadText(key, name, text);
  return text;
}

HxStr FromSource(const Folder& folder) {
  switch (folder.source) {
    case Source::kWindows:
      return HxStr(platform::WindowsDirectory());
    case Source::kSystem:
      return HxStr(platform::SystemDirectory());
    case Source::kTemp:
      return HxStr(platform::TempDirectory());
    case Source::kMachineVersion:
      return Read(platform::kHkeyLocalMachine, names::kWindowsVersion, folder.valueName);
    case Source::kUserShell:
      return Read(platform::kHkeyCurrentUser, names::kShellFolders, folder.valueName);
    case Source::kCommonShell:
      return CommonShellFolder(folder.valueName);
    case Source::kCommonAppData: {
      HxStr named = CommonShellFolder(folder.valueName);
      if (named.IsEmpty() || platform::IsDirectory(LocalPath(named))) return named;
      return HxStr(platform::CommonAppDataDirectory());
    }
    case Source::kNtVersion:
      return Read(platform::kHkeyLocalMachine, names::kWindowsNtVersion, folder.valueName);
    case Source::kUser:
      return GetContextValue(names::kUserName);
    case Source::kMachineName:
      return HxStr(platform::ComputerName());
    // Folders without a meaning here live under the user's or the common data.
    case Source::kProfile:
      return HxStr(platform::LocalAppDataDirectory() + "/Profile");
    case Source::kProfiles:
      return HxStr(platform::CommonAppDataDirectory() + "/Profiles");
  }
  return HxStr();
}

}  // namespace

HxStr GetSystemFolder(int number) {
  if (number < 0 || number >= kSystemFolderCount) return HxStr();
  return FromSource(kFolders[number]);
}

const char* SystemFolderToken(int number) {
  return number >= 0 && number < kSystemFolderCount ? kFolders[number].token : nullptr;
}
