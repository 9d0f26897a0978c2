// Clears the proxy variables of the environment (http_proxy, https_proxy, all_proxy, no_proxy, in
// both cases) for the life of the object, so that a test sees only the ones it sets; restores
// them afterwards.
#pragma once
#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "scoped_sandbox.h"

namespace net_test {

class ScopedProxyEnvironment {
 public:
  ScopedProxyEnvironment() {
    for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy",
                             "ALL_PROXY", "no_proxy", "NO_PROXY"}) {
      const char* value = std::getenv(name);
      saved_.emplace_back(name,
                          value != nullptr ? std::optional<std::string>(value) : std::nullopt);
      Set(name, "");
    }
  }
  ~ScopedProxyEnvironment() {
    for (const auto& [name, value] : saved_) Set(name, value.value_or(""));
  }
  ScopedProxyEnvironment(const ScopedProxyEnvironment&) = delete;
  ScopedProxyEnvironment& operator=(const ScopedProxyEnvironment&) = delete;

  // Sets one of the variables (an empty value removes it).
  void Set(const std::string& name, const std::string& value) {
    platform::testing::SetEnvironment(name, value);
  }

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

}  // namespace net_test
