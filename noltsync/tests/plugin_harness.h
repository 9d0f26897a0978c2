// Loads the built plug-in as a host does and records every line it logs.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "hosts/common/plugin_loader.h"

struct LoggedLine {
  uint32_t level;
  std::string text;
};

class PluginHarness {
 public:
  PluginHarness();
  const ModletApi& Api() const { return api_; }
  bool Loaded() const { return loaded_; }
  const std::string& LoadError() const { return error_; }

  // Hands the recording logger to the plug-in through "LOGGER".
  void InstallLogger();
  static std::vector<LoggedLine> Lines();
  static void ClearLines();
  static bool HasLine(uint32_t level, const std::string& text);
  // Makes the recording logger throw a C++ exception (or, with `fault`, write to an unmapped
  // address) when it logs a line that begins with `prefix`, once.
  static void FailOnLine(const std::string& prefix, bool fault);

 private:
  platform::SharedLibrary library_;
  ModletApi api_;
  bool loaded_ = false;
  std::string error_;
};
