#include "sync_test_support.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <future>

#include "platform/messages.h"

namespace platform::testing {

Peer::Peer(const std::vector<std::string>& arguments, bool asOtherAccount,
           const std::string& program) {
  std::vector<std::string> command{program.empty() ? SYNC_PEER_PATH : program};
  command.insert(command.end(), arguments.begin(), arguments.end());
  if (asOtherAccount) command = AsOtherAccount(command);
  std::vector<char*> argv;
  for (std::string& argument : command) argv.push_back(argument.data());
  argv.push_back(nullptr);
  int input[2];
  int output[2];
  if (pipe2(input, O_CLOEXEC) != 0 || pipe2(output, O_CLOEXEC) != 0) return;
  pid_ = fork();
  if (pid_ == 0) {
    dup2(input[0], 0);
    dup2(output[1], 1);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(input[0]);
  close(output[1]);
  toPeer_ = input[1];
  fromPeer_ = output[0];
}

Peer::~Peer() {
  Kill();
  if (toPeer_ >= 0) close(toPeer_);
  if (fromPeer_ >= 0) close(fromPeer_);
}

std::string Peer::ReadLine(uint32_t timeoutMs) {
  size_t end;
  while ((end = pending_.find('\n')) == std::string::npos) {
    pollfd ready{fromPeer_, POLLIN, 0};
    char buffer[256];
    ssize_t got = poll(&ready, 1, static_cast<int>(timeoutMs)) == 1
                      ? read(fromPeer_, buffer, sizeof buffer)
                      : 0;
    if (got <= 0) return {};
    pending_.append(buffer, static_cast<size_t>(got));
  }
  std::string line = pending_.substr(0, end);
  pending_.erase(0, end + 1);
  return line;
}

void Peer::Kill() {
  if (pid_ <= 0) return;
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

int Peer::Finish() {
  if (toPeer_ >= 0) close(toPeer_);
  toPeer_ = -1;
  int pidfd = pid_ > 0 ? static_cast<int>(syscall(SYS_pidfd_open, pid_, 0)) : -1;
  pollfd ended{pidfd, POLLIN, 0};
  bool inTime = pidfd >= 0 && poll(&ended, 1, static_cast<int>(kFailureGuardMs)) == 1;
  if (pidfd >= 0) close(pidfd);
  int status = 0;
  if (!inTime || waitpid(pid_, &status, 0) != pid_) return -1;
  pid_ = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool WaitUntilBlockedInPoll(pid_t processId, pid_t threadId) {
  std::string path =
      "/proc/" + std::to_string(processId) + "/task/" + std::to_string(threadId) + "/syscall";
  auto giveUp = std::chrono::steady_clock::now() + std::chrono::milliseconds(kFailureGuardMs);
  while (std::chrono::steady_clock::now() < giveUp) {
    std::ifstream file(path);
    long number = -1;
    if (file >> number && (number == SYS_ppoll || number == SYS_poll)) return true;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return false;
}

WaitingThread::WaitingThread(std::function<uint32_t()> wait) {
  std::promise<uint32_t> started;
  std::future<uint32_t> threadId = started.get_future();
  thread_ = std::thread([this, wait = std::move(wait), started = std::move(started)]() mutable {
    started.set_value(CurrentThreadId());
    result_ = wait();
  });
  threadId_ = threadId.get();
}

WaitingThread::~WaitingThread() {
  if (thread_.joinable()) thread_.join();
}

bool WaitingThread::Blocked() const {
  return WaitUntilBlockedInPoll(getpid(), static_cast<pid_t>(threadId_));
}

uint32_t WaitingThread::Result() {
  if (thread_.joinable()) thread_.join();
  return result_;
}

std::vector<std::string> AsOtherAccount(std::vector<std::string> command) {
  command.insert(command.begin(),
                 {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
  return command;
}

bool RunningAsRoot() { return geteuid() == 0; }

bool OpenSandboxToEveryAccount(const std::string& root) { return chmod(root.c_str(), 0755) == 0; }

}  // namespace platform::testing
