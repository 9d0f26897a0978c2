// Helpers of the named-object tests: a peer process driven over pipes (also as another
// account), and a way to know that a thread or process is blocked in its wait.
#pragma once
#include <sys/types.h>

#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/errors.h"

namespace platform::testing {

// A limit on real time that only a failure reaches.
inline constexpr uint32_t kFailureGuardMs = 20000;

// A peer program: it reports one line per step on its standard output and keeps what it holds
// until its standard input closes.
class Peer {
 public:
  // Runs `program` (sync_peer when empty) with `arguments`, as uid 65534 when `asOtherAccount`.
  explicit Peer(const std::vector<std::string>& arguments, bool asOtherAccount = false,
                const std::string& program = "");
  ~Peer();  // kills and reaps it when still running
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;

  pid_t Pid() const { return pid_; }
  // The next line without its newline; empty when the peer ended or wrote none in time.
  std::string ReadLine(uint32_t timeoutMs = kFailureGuardMs);
  // Closes the peer's standard input and returns its exit status (-1: it did not end in time).
  int Finish();
  void Kill();

 private:
  pid_t pid_ = -1;
  int toPeer_ = -1;
  int fromPeer_ = -1;
  std::string pending_;  // read, not yet returned
};

// Waits (at most the failure guard, in real time) until the thread, or the main thread of the
// process, sits in poll, the blocking step of a wait.
bool WaitUntilBlockedInPoll(pid_t processId, pid_t threadId);

// Runs one wait on a thread of its own; the test learns the thread's id before the wait starts.
class WaitingThread {
 public:
  explicit WaitingThread(std::function<uint32_t()> wait);
  ~WaitingThread();
  WaitingThread(const WaitingThread&) = delete;
  WaitingThread& operator=(const WaitingThread&) = delete;

  uint32_t ThreadId() const { return threadId_; }
  bool Blocked() const;
  // Joins the thread and returns what its wait returned.
  uint32_t Result();

 private:
  std::thread thread_;
  uint32_t threadId_ = 0;
  uint32_t result_ = 0;
};

// The last error of a creation or open that must fail; success when it gave an object.
template <typename Object>
uint32_t RefusedWith(const std::unique_ptr<Object>& object) {
  return object ? kErrorSuccess : LastError();
}

// The command line that runs `command` as uid 65534 (group 65534, no supplementary groups).
std::vector<std::string> AsOtherAccount(std::vector<std::string> command);
// True when the test runs as root, which the account switch needs.
bool RunningAsRoot();
// Lets every account into the sandbox root (a fresh one is private to its creator).
bool OpenSandboxToEveryAccount(const std::string& root);

}  // namespace platform::testing
