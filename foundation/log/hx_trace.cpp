#include "foundation/log/hx_trace.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "foundation/strings/url_credentials.h"
#include "platform/debug.h"

HxTrace& HxTrace::Instance() {
  static HxTrace trace;
  return trace;
}

bool HxTrace::Admits(uint32_t category, uint32_t level) const {
  return (LevelMask() & level) != 0 && (TraceMask() & category) != 0;
}

void HxTrace::SetMasks(uint32_t traceMask, uint32_t levelMask) {
  m_traceMask.store(traceMask, std::memory_order_relaxed);
  m_levelMask.store(levelMask, std::memory_order_relaxed);
}

void HxTrace::Emit(uint32_t level, uint32_t category, const char* format, va_list args) {
  if (!Admits(category, level)) return;
  char buffer[kMaxLineLength + 1];
  int formatted = std::vsnprintf(buffer, sizeof buffer, format, args);
  if (formatted < 0) return;
  size_t length = std::min(static_cast<size_t>(formatted), kMaxLineLength);
  if (std::memchr(buffer, '\n', length) == nullptr && length < kMaxLineLength) {
    buffer[length++] = '\n';
  }
  const std::string_view line(buffer, length);
  // Traced locations and error texts may carry "user:password@host": the trace shows no password.
  if (line.find('@') != std::string_view::npos) {
    platform::OutputDebugText(MaskUrlCredentials(line));
  } else {
    platform::OutputDebugText(line);
  }
}

void HxTrace::TraceL1(uint32_t category, const char* format, ...) {
  va_list args;
  va_start(args, format);
  Emit(kTraceLevel1, category, format, args);
  va_end(args);
}

void HxTrace::TraceL2(uint32_t category, const char* format, ...) {
  va_list args;
  va_start(args, format);
  Emit(kTraceLevel2, category, format, args);
  va_end(args);
}

void HxTrace::TraceL8(uint32_t category, const char* format, ...) {
  va_list args;
  va_start(args, format);
  Emit(kTraceLevel8, category, format, args);
  va_end(args);
}
