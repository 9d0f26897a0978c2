// Loading a shared library at run time and finding its exported functions.
#pragma once
#include <string>

namespace platform {

class SharedLibrary {
 public:
  SharedLibrary() = default;
  ~SharedLibrary();
  SharedLibrary(const SharedLibrary&) = delete;
  SharedLibrary& operator=(const SharedLibrary&) = delete;

  // Loads the library; false with a reason in Error() when it cannot.
  bool Load(const std::string& path);
  void Unload();
  // The address of an exported symbol, or null.
  void* Symbol(const char* name) const;
  const std::string& Error() const { return error_; }

 private:
  void* handle_ = nullptr;
  std::string error_;
};

}  // namespace platform
