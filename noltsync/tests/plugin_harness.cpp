#include "plugin_harness.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <stdexcept>
#include <string_view>

namespace {

std::mutex g_mutex;
std::vector<LoggedLine> g_lines;
std::string g_failPrefix;
bool g_fault = false;

extern "C" void RecordingLogger(uint32_t /*category*/, uint32_t level, const char* format, ...) {
  char buffer[2048];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(buffer, sizeof buffer, format, arguments);
  va_end(arguments);
  bool fail = false;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_lines.push_back({level, buffer});
    fail = !g_failPrefix.empty() && std::string_view(buffer).starts_with(g_failPrefix);
    if (fail) g_failPrefix.clear();
  }
  if (fail && !g_fault) throw std::runtime_error("logger failure");
  if (fail) {
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

void PluginHarness::FailOnLine(const std::string& prefix, bool fault) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_failPrefix = prefix;
  g_fault = fault;
}
