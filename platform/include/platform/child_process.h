// Starting another program and waiting for it to end.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace platform {

class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();  // kills and reaps a child that is still running
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts `arguments[0]` (a path) with the given arguments and extra environment variables (an
  // empty value removes the variable);
  // its standard output and error go to `outputPath` when given (appended), else are inherited.
  bool Start(const std::vector<std::string>& arguments,
             const std::vector<std::pair<std::string, std::string>>& environment = {},
             const std::string& outputPath = "");

  // Asks the child to end (SIGTERM), or ends it at once (SIGKILL).
  bool RequestTermination();
  bool Kill();

  // Waits for the end; the exit status, or 128 + the signal number that ended it; -1 when the
  // child is unknown or did not end within `timeoutMs` of real time.
  int Wait(uint32_t timeoutMs = 0xFFFFFFFF);

  int ProcessId() const { return pid_; }

 private:
  int pid_ = -1;
  int exitStatus_ = -1;
};

}  // namespace platform
