// A fresh sandbox root for one test: NOLT_ROOT points at a new temporary directory (and
// NOLT_USER at the given user) until the object goes out of scope, then both are restored and
// the directory is removed.
#pragma once
#include <string>

namespace platform::testing {

class ScopedSandbox {
 public:
  explicit ScopedSandbox(const std::string& user = "tester");
  ~ScopedSandbox();
  ScopedSandbox(const ScopedSandbox&) = delete;
  ScopedSandbox& operator=(const ScopedSandbox&) = delete;

  const std::string& Root() const { return root_; }

 private:
  std::string root_;
  std::string previousRoot_;
  std::string previousUser_;
  bool hadRoot_ = false;
  bool hadUser_ = false;
};

// Sets or removes (empty value) an environment variable of this process.
void SetEnvironment(const std::string& name, const std::string& value);

}  // namespace platform::testing
