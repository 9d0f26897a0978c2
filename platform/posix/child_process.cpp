#include "platform/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <utility>

namespace platform {
namespace {

int DecodeStatus(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

}  // namespace

ChildProcess::~ChildProcess() {
  if (pid_ > 0 && exitStatus_ < 0) {
    Kill();
    Wait();
  }
}

bool ChildProcess::Start(const std::vector<std::string>& arguments,
                         const std::vector<std::pair<std::string, std::string>>& environment,
                         const std::string& outputPath) {
  if (arguments.empty() || pid_ > 0) return false;
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  // The environment is built before fork: the child may only do async-signal-safe work.
  std::vector<std::string> variables;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    std::string variable = *entry;
    bool overridden = false;
    for (const auto& extra : environment) {
      overridden = overridden || variable.rfind(extra.first + "=", 0) == 0;
    }
    if (!overridden) variables.push_back(std::move(variable));
  }
  for (const auto& [name, value] : environment) {
    if (!value.empty()) variables.push_back(name + "=" + value);
  }
  std::vector<char*> envp;
  for (std::string& variable : variables) envp.push_back(variable.data());
  envp.push_back(nullptr);
  int output = -1;
  if (!outputPath.empty()) {
    output = open(outputPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (output < 0) return false;
  }
  pid_t pid = fork();
  if (pid == 0) {
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    if (output >= 0) {
      dup2(output, STDOUT_FILENO);
      dup2(output, STDERR_FILENO);
    }
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  if (output >= 0) close(output);
  if (pid < 0) return false;
  pid_ = pid;
  exitStatus_ = -1;
  return true;
}

// A reaped child's pid may belong to another process by now: signal only a running child.
bool ChildProcess::RequestTermination() {
  return pid_ > 0 && exitStatus_ < 0 && kill(pid_, SIGTERM) == 0;
}

bool ChildProcess::Kill() { return pid_ > 0 && exitStatus_ < 0 && kill(pid_, SIGKILL) == 0; }

int ChildProcess::Wait(uint32_t timeoutMs) {
  if (pid_ <= 0) return -1;
  if (exitStatus_ >= 0) return exitStatus_;
  if (timeoutMs != 0xFFFFFFFF) {
    int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
    if (pidfd >= 0) {
      pollfd watch{pidfd, POLLIN, 0};
      int ready = poll(&watch, 1, static_cast<int>(timeoutMs));
      close(pidfd);
      if (ready <= 0) return -1;
    }
  }
  int status = 0;
  pid_t reaped;
  do {
    reaped = waitpid(pid_, &status, 0);
  } while (reaped < 0 && errno == EINTR);
  if (reaped != pid_) return -1;
  exitStatus_ = DecodeStatus(status);
  return exitStatus_;
}

}  // namespace platform
