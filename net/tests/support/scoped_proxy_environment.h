// Clears the proxy variables of the environment (http_proxy, https_proxy, all_proxy, no_proxy, in
// both cases) for the life of the object, so that a test sees only the ones it sets; restores
// them afterwards.
#pragma once
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace net_test {

class ScopedProxyEnvironment {
 public:
  ScopedProxyEnvironment();
  ~ScopedProxyEnvironment();
  ScopedProxyEnvironment(const ScopedProxyEnvironment&) = delete;
  ScopedProxyEnvironment& operator=(const ScopedProxyEnvironment&) = delete;

  // Sets one of the variables (an empty value removes it).
  void Set(const std::string& name, const std::string& value);

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

}  // namespace net_test
