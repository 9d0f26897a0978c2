// The other process of the guard tests. It takes a guard, or owns a named mutex, writes
// "inside TAG" on its standard output and lets go when its standard input closes:
//   locks_peer read|write GUARD TAG [NAMESPACE]   SwmrGuard GUARD in NAMESPACE, acquired
//   locks_peer own MUTEX TAG                      the mutex MUTEX (full name), owned
// Exit status: 0 after leaving, 2 when the guard or mutex cannot be made, 4 when the acquire
// did not enter, 5 when the release failed, 64 for a bad command line.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "foundation/locks/swmr_guard.h"
#include "platform/sync.h"

namespace {

bool Entered(uint32_t result) {
  return result == platform::kWaitObject0 || result == platform::kWaitAbandoned0;
}

void HoldUntilInputCloses(const char* tag) {
  std::printf("inside %s\n", tag);
  std::fflush(stdout);
  char c = 0;
  while (read(0, &c, 1) > 0) {
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4 || argc > 5) return 64;
  const std::string mode = argv[1];
  if (mode == "own") {
    auto mutex = platform::Mutex::Create(argv[2], true);
    if (!mutex) return 2;
    HoldUntilInputCloses(argv[3]);
    return mutex->Release() ? 0 : 5;
  }
  if (mode != "read" && mode != "write") return 64;
  const bool writer = mode == "write";
  SwmrGuard guard;
  if (!guard.Create(argv[2], argc == 5 ? argv[4] : nullptr)) return 2;
  if (!Entered(writer ? guard.AcquireWrite(platform::kInfinite)
                      : guard.AcquireRead(platform::kInfinite))) {
    return 4;
  }
  HoldUntilInputCloses(argv[3]);
  return (writer ? guard.ReleaseWrite() : guard.ReleaseRead()) ? 0 : 5;
}
