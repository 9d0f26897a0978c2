// Where things live: the hives, the well-known folders (the temporary one, folder 2, is files.h's
// TempDirectory), the pending-operations list and the sockets, for a normal install or inside a
// sandbox (NOLT_ROOT). Directories carry no trailing slash. Paths are for the process user;
// nothing here creates them.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

std::string MachineHivePath();
std::string UserHivePath();

std::string CommonAppDataDirectory();   // folder 22
std::string LocalAppDataDirectory();    // folder 16
std::string RoamingAppDataDirectory();  // folder 17
std::string ProgramFilesDirectory();    // folder 3
// Folders without a Linux meaning live under common data (machine-wide) or the user's local data.
std::string WindowsDirectory();  // folder 0
std::string SystemDirectory();   // folder 1

// Operations deferred to the next restart.
std::string PendingOperationsPath();
// The process user's sockets ("pipes").
std::string PipeDirectory();
// The folders of the keys of protected values, private to their owner (0700): the machine's,
// which the system account uses, and the process user's.
std::string MachineKeyDirectory();
std::string UserKeyDirectory();

// A value that a new hive starts with: the shell folders, as Windows writes them into a new
// profile. key is relative to the hive's root.
struct ShellFolderValue {
  std::string key;
  std::string name;
  uint32_t type = 1;  // REG_SZ, or REG_EXPAND_SZ under "User Shell Folders"
  std::string path;
};

// The values of a new machine hive, or of a new hive of the process user.
std::vector<ShellFolderValue> ShellFolderValues(bool machineHive);

}  // namespace platform
