#include "plugin_harness.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <stdexcept>

namespace {

std::mutex g_mutex;
std::vector<LoggedLine> g_lines;
std::string g_throwPrefix;
std::string g_faultPrefix;

bool TakeTrigger(std::string& prefix, const std::string& text) {
  if (prefix.empty() || text.rfind(prefix, 0) != 0) return false;
  prefix.clear();
  return true;
}

extern "C" void RecordingLogger(uint32_t /*category*/, uint32_t level, const char* format, ...) {
  char buffer[2048];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(buffer, sizeof buffer, format, arguments);
  va_end(arguments);
  bool doThrow = false;
  bool doFault = false;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_lines.push_back({level, buffer});
    doThrow = TakeTrigger(g_throwPrefix, buffer);
    doFault = TakeTrigger(g_faultPrefix, buffer);
  }
  if (doThrow) throw std::runtime_error("logger failure");
  if (doFault) {
    // An unmapped address that is not null, so the sanitizers let the fault happen.
    volatile uintptr_t unmapped = 16;
    *reinterpret_cast<volatile int*>(unmapped) = 1;
  }
}

}  // namespace

PluginHarness::PluginHarness() {
  const char* build = std::getenv("TIDESYNC_BUILD_DIR");
  std::string path = std::string(build != nullptr ? build : ".") + "/lib/libnoltsync.so";
  loaded_ = LoadModletApi(library_, path, api_, error_);
}

void PluginHarness::InstallLogger() {
  char address[32];
  std::snprintf(address, sizeof address, "%p", reinterpret_cast<void*>(&RecordingLogger));
  api_.setProperty(nullptr, "LOGGER", address);
}

std::vector<LoggedLine> PluginHarness::Lines() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_lines;
}

void PluginHarness::ClearLines() {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_lines.clear();
}

bool PluginHarness::HasLine(uint32_t level, const std::string& text) {
  std::lock_guard<std::mutex> lock(g_mutex);
  for (const LoggedLine& line : g_lines) {
    if (line.level == level && line.text == text) return true;
  }
  return false;
}

void PluginHarness::ThrowOnLine(const std::string& prefix) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_throwPrefix = prefix;
}

void PluginHarness::FaultOnLine(const std::string& prefix) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_faultPrefix = prefix;
}
