// The other process of the guard tests. It takes a guard, or owns a named mutex, says so over a
// named event and lets go when the test sets another:
//   locks_peer read|write GUARD TAG [NAMESPACE]   SwmrGuard GUARD in NAMESPACE, acquired
//   locks_peer own MUTEX TAG [NAMESPACE]          the mutex MUTEX (full name), owned
// The test creates the events "[NAMESPACE\]LOCKS_PEER_IN_TAG" (set once inside) and
// "[NAMESPACE\]LOCKS_PEER_OUT_TAG" (waited for before leaving).
// Exit status: 0 after leaving, 2 when the guard or mutex cannot be made, 3 without the events,
// 4 when the acquire did not enter, 5 when the release failed, 64 for a bad command line.
#include <memory>
#include <string>

#include "foundation/locks/swmr_guard.h"
#include "platform/sync.h"

namespace {

enum PeerExit { kLeft = 0, kNoObject = 2, kNoEvents = 3, kNotEntered = 4, kReleaseFailed = 5 };

bool Entered(uint32_t result) {
  return result == platform::kWaitObject0 || result == platform::kWaitAbandoned0;
}

// Tells the test we are inside, then waits for its word to leave.
bool HoldUntilTold(const std::string& prefix, const std::string& tag) {
  auto inside = platform::Event::Open(prefix + "LOCKS_PEER_IN_" + tag);
  auto leave = platform::Event::Open(prefix + "LOCKS_PEER_OUT_" + tag);
  if (!inside || !leave || !inside->Set()) return false;
  return platform::WaitForOne(*leave, platform::kInfinite) == platform::kWaitObject0;
}

int HoldGuard(bool writer, const std::string& name, const std::string& tag,
              const std::string& ns) {
  SwmrGuard guard;
  if (!guard.Create(name.c_str(), ns.empty() ? nullptr : ns.c_str())) return kNoObject;
  uint32_t result = writer ? guard.AcquireWrite(platform::kInfinite)
                           : guard.AcquireRead(platform::kInfinite);
  if (!Entered(result)) return kNotEntered;
  if (!HoldUntilTold(ns.empty() ? "" : ns + "\\", tag)) return kNoEvents;
  return (writer ? guard.ReleaseWrite() : guard.ReleaseRead()) ? kLeft : kReleaseFailed;
}

int HoldMutex(const std::string& name, const std::string& tag, const std::string& ns) {
  auto mutex = platform::Mutex::Create(name, true);
  if (!mutex) return kNoObject;
  if (!HoldUntilTold(ns.empty() ? "" : ns + "\\", tag)) return kNoEvents;
  return mutex->Release() ? kLeft : kReleaseFailed;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4 || argc > 5) return 64;
  const std::string mode = argv[1];
  const std::string ns = argc == 5 ? argv[4] : "";
  if (mode == "read" || mode == "write") return HoldGuard(mode == "write", argv[2], argv[3], ns);
  if (mode == "own") return HoldMutex(argv[2], argv[3], ns);
  return 64;
}
