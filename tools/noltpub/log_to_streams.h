// Sends the system's log lines to the tool's output while a command runs: errors (level 8) to
// the error stream, every other level to the output stream.
#pragma once
#include <ostream>

class LogToStreams {
 public:
  LogToStreams(std::ostream& out, std::ostream& err);
  // Detaches the streams; later log lines are dropped.
  ~LogToStreams();
  LogToStreams(const LogToStreams&) = delete;
  LogToStreams& operator=(const LogToStreams&) = delete;
};
