// Helpers of the named-object tests: a peer process driven over pipes, and a way to know that
// a thread or process is blocked in its wait before the test signals it.
#pragma once
#include <sys/types.h>

#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/errors.h"

namespace platform::testing {

// A running sync_peer: its standard input and output are pipes of the test.
class Peer {
 public:
  explicit Peer(const std::vector<std::string>& arguments);
  ~Peer();  // kills and reaps it when still running
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;

  pid_t Pid() const { return pid_; }
  int OutputDescriptor() const { return fromPeer_; }
  // The next line the peer wrote, without its newline; empty when the peer ended first.
  std::string ReadLine();
  void Kill();
  // Closes the peer's standard input, which tells a holding peer to end; returns its exit code.
  int Finish();

 private:
  pid_t pid_ = -1;
  int toPeer_ = -1;
  int fromPeer_ = -1;
};

// Index of the first of the peers whose output becomes readable.
size_t FirstPeerWithOutput(const std::vector<Peer*>& peers);

// Waits (for at most ten seconds of real time) until the thread, or the main thread of the
// process, sits in poll, the blocking step of a wait. False when it never got there.
bool WaitUntilBlockedInPoll(pid_t processId, pid_t threadId);

// Runs one wait on a thread of its own; the test learns the thread's id before the wait starts.
class WaitingThread {
 public:
  explicit WaitingThread(std::function<uint32_t()> wait);
  ~WaitingThread();
  WaitingThread(const WaitingThread&) = delete;
  WaitingThread& operator=(const WaitingThread&) = delete;

  uint32_t ThreadId() const { return threadId_; }
  // True once the thread sits in the blocking step of its wait.
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

// Reads one line from a descriptor; empty at end of file.
std::string ReadLineFrom(int fd);
// Writes one line to a descriptor.
void WriteLineTo(int fd, const std::string& line);

}  // namespace platform::testing
