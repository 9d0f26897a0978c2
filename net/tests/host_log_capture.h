// Captures the lines logged through the host logger while the object lives.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct LoggedLine {
  uint32_t level;
  std::string format;  // as the code passed it
  std::string text;    // formatted
};

class HostLogCapture {
 public:
  HostLogCapture();
  ~HostLogCapture();
  HostLogCapture(const HostLogCapture&) = delete;
  HostLogCapture& operator=(const HostLogCapture&) = delete;

  const std::vector<LoggedLine>& Lines() const;
};
