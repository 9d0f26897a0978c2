// A new, uniquely named directory below the system's temporary directory, removed with
// everything in it when the object goes away.
#pragma once
#include <string>

namespace net_test {

class ScratchDirectory {
 public:
  explicit ScratchDirectory(const std::string& prefix);
  ~ScratchDirectory();
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

  // Empty when no directory could be made.
  const std::string& Path() const { return path_; }
  // Path() + "/" + name.
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

}  // namespace net_test
