// Keeps a process-wide mutex usable in a forked child: the fork waits until no other thread
// holds it, and the child (where only the forking thread lives) gets it back unlocked, after
// which `ResetInChild` discards what belonged to the parent's threads.
#pragma once
#include <pthread.h>

#include <mutex>

namespace platform::internal {

template <std::mutex* Guarded, void (*ResetInChild)()>
struct ForkGuard {
  static void Prepare() { Guarded->lock(); }
  static void Parent() { Guarded->unlock(); }
  static void Child() {
    Guarded->unlock();
    ResetInChild();
  }
  static int Register() { return pthread_atfork(Prepare, Parent, Child); }
};

}  // namespace platform::internal
