#include "scoped_sandbox.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace platform::testing {

void SetEnvironment(const std::string& name, const std::string& value) {
  if (value.empty()) {
    unsetenv(name.c_str());
  } else {
    setenv(name.c_str(), value.c_str(), 1);
  }
}

ScopedSandbox::ScopedSandbox(const std::string& user) {
  if (const char* root = std::getenv("NOLT_ROOT")) {
    hadRoot_ = true;
    previousRoot_ = root;
  }
  if (const char* previous = std::getenv("NOLT_USER")) {
    hadUser_ = true;
    previousUser_ = previous;
  }
  std::string pattern = (std::filesystem::temp_directory_path() / "tidesync-test-XXXXXX").string();
  char* made = mkdtemp(pattern.data());
  root_ = made != nullptr ? made : pattern;
  SetEnvironment("NOLT_ROOT", root_);
  SetEnvironment("NOLT_USER", user);
}

ScopedSandbox::~ScopedSandbox() {
  SetEnvironment("NOLT_ROOT", hadRoot_ ? previousRoot_ : "");
  SetEnvironment("NOLT_USER", hadUser_ ? previousUser_ : "");
  std::error_code ignored;
  std::filesystem::remove_all(root_, ignored);
}

}  // namespace platform::testing
