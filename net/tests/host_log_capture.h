// Captures the lines logged through the host logger while the object lives.
#pragma once
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "foundation/log/host_logger.h"

struct LoggedLine {
  uint32_t level;
  std::string format;  // as the code passed it
  std::string text;    // formatted
};

class HostLogCapture {
 public:
  HostLogCapture() {
    Captured().clear();
    SetHostLogger(&Capture);
  }
  ~HostLogCapture() { SetHostLogger(nullptr); }
  HostLogCapture(const HostLogCapture&) = delete;
  HostLogCapture& operator=(const HostLogCapture&) = delete;

  const std::vector<LoggedLine>& Lines() const { return Captured(); }

 private:
  static std::vector<LoggedLine>& Captured() {
    static std::vector<LoggedLine> lines;
    return lines;
  }
  static void Capture(uint32_t, uint32_t level, const char* format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    Captured().push_back({level, format, text});
  }
};
