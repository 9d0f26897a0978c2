#include "hosts/common/host_log.h"

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <string>

#include "foundation/strings/url_credentials.h"
#include "platform/log_file.h"

namespace {

std::mutex g_logMutex;
FILE* g_logFile = nullptr;
bool g_quiet = false;

const char* LevelName(uint32_t level) {
  switch (level) {
    case 1: return "DETAIL";
    case 2: return "INFO";
    case 4: return "WARN";
    case 8: return "ERROR";
    default: return "LEVEL";
  }
}

std::string LocalTimeStamp() {
  auto now = std::chrono::system_clock::now();
  std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  char text[40];
  // Called with the log mutex held, which also guards localtime's static result.
  size_t length = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", std::localtime(&seconds));
  std::snprintf(text + length, sizeof text - length, ".%03d", static_cast<int>(millis));
  return text;
}

void WriteLine(uint32_t level, const char* format, va_list arguments) {
  if (g_quiet && level < 4) return;
  char stackBuffer[1024];
  va_list copy;
  va_copy(copy, arguments);
  int needed = std::vsnprintf(stackBuffer, sizeof stackBuffer, format, copy);
  va_end(copy);
  std::string text;
  if (needed < 0) {
    text = format;
  } else if (static_cast<size_t>(needed) < sizeof stackBuffer) {
    text.assign(stackBuffer, static_cast<size_t>(needed));
  } else {
    text.resize(static_cast<size_t>(needed) + 1);
    std::vsnprintf(text.data(), text.size(), format, arguments);
    text.resize(static_cast<size_t>(needed));
  }
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  text = MaskUrlCredentials(text);

  std::lock_guard<std::mutex> lock(g_logMutex);
  FILE* out = g_logFile != nullptr ? g_logFile : stderr;
  std::fprintf(out, "%s %-6s %s\n", LocalTimeStamp().c_str(), LevelName(level), text.c_str());
  std::fflush(out);
}

}  // namespace

bool OpenHostLog(const std::string& path, bool quiet, unsigned mode, const std::string& group) {
  g_quiet = quiet;
  if (path.empty()) return true;
  platform::OpenedLogFile opened;
  if (!platform::OpenLogFile(path, mode, group, opened)) return false;
  g_logFile = opened.file;
  if (!opened.created && (opened.mode & 07) != 0) {
    HostReport(4, "The log file %s can be read by every user (mode %03o); it is left as it is",
               path.c_str(), opened.mode);
  }
  return true;
}

void CloseHostLog() {
  std::lock_guard<std::mutex> lock(g_logMutex);
  if (g_logFile != nullptr) std::fclose(g_logFile);
  g_logFile = nullptr;
}

extern "C" void HostLoggerCallback(uint32_t /*category*/, uint32_t level, const char* format, ...) {
  if (format == nullptr) return;
  va_list arguments;
  va_start(arguments, format);
  WriteLine(level, format, arguments);
  va_end(arguments);
}

void HostReport(uint32_t level, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  WriteLine(level, format, arguments);
  va_end(arguments);
}
