#include "platform/system_facts.h"

#include <unistd.h>

namespace platform {

std::vector<std::pair<std::string, std::string>> EnvironmentVariables() {
  std::vector<std::pair<std::string, std::string>> variables;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    std::string text = *entry;
    size_t equals = text.find('=', 1);
    if (equals == std::string::npos) continue;
    variables.emplace_back(text.substr(0, equals), text.substr(equals + 1));
  }
  return variables;
}

std::string MountTablePath() { return "/proc/self/mounts"; }

std::string PackageDatabasePath() { return "/var/lib/dpkg/status"; }

}  // namespace platform
