// Machine facts the inventory reads: the process environment, the mounted file systems and the
// installed-package database.
#pragma once
#include <string>
#include <utility>
#include <vector>

namespace platform {

// name=value pairs of the process's current environment, in their order.
std::vector<std::pair<std::string, std::string>> EnvironmentVariables();

// A file in the fstab layout (device, mount point, type, ...) listing the mounted file systems.
std::string MountTablePath();

// The package manager's status database (stanzas of "Field: value" lines).
std::string PackageDatabasePath();

}  // namespace platform
