// The machine facts that the collectors read beyond the registry and plain files: the process
// environment, the table of mounted file systems and the package database. Tests derive from it
// to point the collectors at sandbox data.
#pragma once
#include <string>
#include <utility>
#include <vector>

class HarvestSystem {
 public:
  virtual ~HarvestSystem() = default;
  // name=value pairs of the process environment, in their order.
  virtual std::vector<std::pair<std::string, std::string>> Environment() const;
  // A file in the fstab layout (device, mount point, type, ...) listing the mounted file systems.
  virtual std::string MountTablePath() const;
  // The package manager's status database (stanzas of "Field: value" lines).
  virtual std::string PackageDatabasePath() const;
};
