#include "scoped_proxy_environment.h"

#include <cstdlib>

#include "scoped_sandbox.h"

namespace net_test {

namespace {

constexpr const char* kProxyVariables[] = {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY",
                                           "all_proxy",  "ALL_PROXY",  "no_proxy",    "NO_PROXY"};

}  // namespace

ScopedProxyEnvironment::ScopedProxyEnvironment() {
  for (const char* name : kProxyVariables) {
    const char* value = std::getenv(name);
    saved_.emplace_back(name, value != nullptr ? std::optional<std::string>(value) : std::nullopt);
    platform::testing::SetEnvironment(name, "");
  }
}

ScopedProxyEnvironment::~ScopedProxyEnvironment() {
  for (const auto& [name, value] : saved_)
    platform::testing::SetEnvironment(name, value.value_or(""));
}

void ScopedProxyEnvironment::Set(const std::string& name, const std::string& value) {
  platform::testing::SetEnvironment(name, value);
}

}  // namespace net_test
