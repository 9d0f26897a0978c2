#include "platform/debug.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

namespace platform {

namespace {

// The trace sink, chosen once per process from NOLT_TRACE: -1 drops the output.
int OpenTraceSink() {
  const char* choice = std::getenv("NOLT_TRACE");
  if (choice == nullptr || *choice == '\0') return -1;
  if (std::string_view(choice) == "stderr") return STDERR_FILENO;
  return open(choice, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0644);
}

int TraceSink() {
  static const int sink = OpenTraceSink();
  return sink;
}

// One write where the system allows it, so that lines of several threads do not interleave.
void WriteAll(int descriptor, std::string_view text) {
  while (!text.empty()) {
    ssize_t written = write(descriptor, text.data(), text.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return;
    }
    text.remove_prefix(static_cast<size_t>(written));
  }
}

}  // namespace

void OutputDebugText(std::string_view text) {
  int sink = TraceSink();
  if (sink >= 0) WriteAll(sink, text);
}

int ShowMessageBox(std::string_view caption, std::string_view text) {
  std::string line;
  line.reserve(caption.size() + text.size() + 4);
  line.append("[").append(caption).append("] ").append(text);
  if (line.back() != '\n') line.push_back('\n');
  WriteAll(STDERR_FILENO, line);
  int sink = TraceSink();
  if (sink >= 0 && sink != STDERR_FILENO) WriteAll(sink, line);
  return kMessageBoxOk;
}

}  // namespace platform
