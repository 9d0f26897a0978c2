#include "host_log_capture.h"

#include <cstdarg>
#include <cstdio>

#include "foundation/log/host_logger.h"

namespace {

std::vector<LoggedLine>& Captured() {
  static std::vector<LoggedLine> lines;
  return lines;
}

extern "C" void CaptureLine(uint32_t, uint32_t level, const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof(text), format, args);
  va_end(args);
  Captured().push_back({level, format, text});
}

}  // namespace

HostLogCapture::HostLogCapture() {
  Captured().clear();
  SetHostLogger(&CaptureLine);
}

HostLogCapture::~HostLogCapture() { SetHostLogger(nullptr); }

const std::vector<LoggedLine>& HostLogCapture::Lines() const { return Captured(); }
