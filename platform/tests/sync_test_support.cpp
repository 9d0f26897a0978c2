#include "sync_test_support.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <future>
#include <thread>

#include "platform/messages.h"

namespace platform::testing {

namespace {

bool IsPollCall(long number) {
#ifdef SYS_poll
  if (number == SYS_poll) return true;
#endif
  return number == SYS_ppoll;
}

}  // namespace

Peer::Peer(const std::vector<std::string>& arguments) {
  int input[2];
  int output[2];
  if (pipe2(input, O_CLOEXEC) != 0 || pipe2(output, O_CLOEXEC) != 0) return;
  std::vector<char*> argv;
  std::string program = SYNC_PEER_PATH;
  argv.push_back(program.data());
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  pid_ = fork();
  if (pid_ == 0) {
    dup2(input[0], 0);
    dup2(output[1], 1);
    execv(program.c_str(), argv.data());
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

std::string Peer::ReadLine() { return ReadLineFrom(fromPeer_); }

void Peer::Kill() {
  if (pid_ <= 0) return;
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

int Peer::Finish() {
  if (toPeer_ >= 0) close(toPeer_);
  toPeer_ = -1;
  int status = 0;
  if (pid_ <= 0 || waitpid(pid_, &status, 0) != pid_) return -1;
  pid_ = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

size_t FirstPeerWithOutput(const std::vector<Peer*>& peers) {
  std::vector<pollfd> fds;
  for (Peer* peer : peers) fds.push_back(pollfd{peer->OutputDescriptor(), POLLIN, 0});
  while (poll(fds.data(), fds.size(), -1) <= 0) {
  }
  for (size_t i = 0; i < fds.size(); ++i) {
    if (fds[i].revents != 0) return i;
  }
  return 0;
}

bool WaitUntilBlockedInPoll(pid_t processId, pid_t threadId) {
  std::string path = "/proc/" + std::to_string(processId) + "/task/" +
                     std::to_string(threadId) + "/syscall";
  auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < giveUp) {
    std::ifstream file(path);
    long number = -1;
    if (file >> number && IsPollCall(number)) return true;
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

std::string ReadLineFrom(int fd) {
  std::string line;
  char c = 0;
  while (read(fd, &c, 1) == 1 && c != '\n') line += c;
  return line;
}

void WriteLineTo(int fd, const std::string& line) {
  std::string text = line + "\n";
  (void)!write(fd, text.data(), text.size());
}

}  // namespace platform::testing
