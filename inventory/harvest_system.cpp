#include "inventory/harvest_system.h"

#include "platform/system_facts.h"

std::vector<std::pair<std::string, std::string>> HarvestSystem::Environment() const {
  return platform::EnvironmentVariables();
}

std::string HarvestSystem::MountTablePath() const { return platform::MountTablePath(); }

std::string HarvestSystem::PackageDatabasePath() const { return platform::PackageDatabasePath(); }
