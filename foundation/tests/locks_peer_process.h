// Runs locks_peer for a test: creates the peer's two named events, starts it (optionally as
// another account), and follows it through them.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "platform/child_process.h"
#include "platform/sync.h"

namespace locks_testing {

// A limit on real time that only a failure reaches.
inline constexpr uint32_t kFailureGuardMs = 20000;

// The uid that the other-account cases switch to.
inline constexpr int kOtherAccountUid = 65534;

class LocksPeer {
 public:
  // Starts "locks_peer MODE NAME TAG [NAMESPACE]". The events live in NAMESPACE too; for
  // another account they carry the Everyone access list.
  LocksPeer(const std::string& mode, const std::string& name, const std::string& tag,
            const std::string& ns = "", bool asOtherAccount = false);
  ~LocksPeer();  // tells the peer to leave, then ends it if it did not
  LocksPeer(const LocksPeer&) = delete;
  LocksPeer& operator=(const LocksPeer&) = delete;

  bool Started() const { return started_; }
  int ProcessId() const { return child_.ProcessId(); }
  // Waits until the peer is inside (at most the failure guard, on the clock in force).
  bool WaitInside();
  // True when the peer said it is inside; does not wait.
  bool IsInside();
  // True once the peer's main thread sits blocked in its wait (real time, at most ten seconds).
  bool Blocked() const;
  // Tells the peer to leave and returns its exit status (-1 when it did not end in time).
  int Finish();
  // Ends the peer at once, whatever it holds, and reaps it.
  void Kill();

 private:
  std::unique_ptr<platform::Event> inside_;  // manual reset: looking does not consume it
  std::unique_ptr<platform::Event> leave_;
  platform::ChildProcess child_;
  bool started_ = false;
};

// The command line that runs `command` as uid 65534 (group 65534, no supplementary groups).
std::vector<std::string> AsOtherAccount(std::vector<std::string> command);

// True when the test runs as root, which the account switch needs.
bool RunningAsRoot();

// Lets every account into the sandbox root (a fresh one is private to its creator).
bool OpenSandboxToEveryAccount(const std::string& root);

}  // namespace locks_testing
