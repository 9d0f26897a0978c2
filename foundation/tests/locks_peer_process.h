// Runs locks_peer for a test (optionally as another account) and follows it over its pipes.
#pragma once
#include <string>
#include <vector>

#include "sync_test_support.h"

namespace locks_testing {

using platform::testing::AsOtherAccount;
using platform::testing::kFailureGuardMs;
using platform::testing::OpenSandboxToEveryAccount;
using platform::testing::RunningAsRoot;

class LocksPeer {
 public:
  // Starts "locks_peer MODE NAME TAG [NAMESPACE]", as uid 65534 when `asOtherAccount`.
  LocksPeer(const std::string& mode, const std::string& name, const std::string& tag,
            const std::string& ns = "", bool asOtherAccount = false)
      : tag_(tag),
        peer_(ns.empty() || mode == "own" ? std::vector<std::string>{mode, name, tag}
                                          : std::vector<std::string>{mode, name, tag, ns},
              asOtherAccount, LOCKS_PEER_PATH) {}

  // Waits until the peer is inside (at most the failure guard, in real time).
  bool WaitInside() { return Inside(kFailureGuardMs); }
  // True when the peer said it is inside; does not wait.
  bool IsInside() { return Inside(0); }
  // True once the peer's main thread sits blocked in its wait for the guard.
  bool Blocked() const {
    return platform::testing::WaitUntilBlockedInPoll(peer_.Pid(), peer_.Pid());
  }
  // Tells the peer to leave; its exit status (-1 when it did not end in time).
  int Finish() { return peer_.Finish(); }
  // Ends the peer at once, whatever it holds.
  void Kill() { peer_.Kill(); }

 private:
  bool Inside(uint32_t timeoutMs) {
    if (!inside_) inside_ = peer_.ReadLine(timeoutMs) == "inside " + tag_;
    return inside_;
  }

  std::string tag_;
  platform::testing::Peer peer_;
  bool inside_ = false;
};

}  // namespace locks_testing
