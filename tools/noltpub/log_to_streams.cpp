#include "log_to_streams.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

#include "foundation/log/host_logger.h"

namespace {

std::ostream* g_out = nullptr;
std::ostream* g_err = nullptr;

extern "C" void WriteLogLine(uint32_t, uint32_t level, const char* format, ...) {
  std::ostream* stream = level >= kLogError ? g_err : g_out;
  if (stream == nullptr) return;
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const int size = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (size > 0) {
    std::vector<char> line(static_cast<size_t>(size) + 1);
    std::vsnprintf(line.data(), line.size(), format, args);
    stream->write(line.data(), size);
  }
  va_end(args);
}

}  // namespace

LogToStreams::LogToStreams(std::ostream& out, std::ostream& err) {
  g_out = &out;
  g_err = &err;
  SetHostLogger(&WriteLogLine);
}

LogToStreams::~LogToStreams() {
  SetHostLogger(nullptr);
  g_out = nullptr;
  g_err = nullptr;
}
