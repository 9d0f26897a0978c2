#include "platform/termination.h"

#include <pthread.h>
#include <signal.h>

#include <thread>
#include <utility>

namespace platform {

void HandleTerminationRequests(std::function<void()> onRequest) {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  std::thread([signals, callback = std::move(onRequest)]() {
    for (;;) {
      int received = 0;
      if (sigwait(&signals, &received) == 0) callback();
    }
  }).detach();
}

}  // namespace platform
