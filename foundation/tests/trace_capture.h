// The debug trace of one test program, captured in a file: the sink is chosen once per process,
// so the file is set up before the first test; each test reads what it appended since a mark.
#pragma once
#include <cstdint>
#include <string>

class TraceCapture {
 public:
  // Marks the current end of the trace and lets every category and level through.
  TraceCapture();
  // Restores the default masks.
  ~TraceCapture();
  TraceCapture(const TraceCapture&) = delete;
  TraceCapture& operator=(const TraceCapture&) = delete;

  // What the trace received since the mark.
  std::string Text() const;

 private:
  uintmax_t start_ = 0;
};
