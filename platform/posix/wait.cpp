#include <poll.h>
#include <sys/inotify.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <vector>

#include "object_state.h"
#include "platform/clock.h"
#include "platform/errors.h"
#include "platform/sync.h"
#include "thread_queue.h"

namespace platform {
namespace {

using internal::AcquireProgress;
using internal::AcquireResult;

constexpr uint32_t kNothingYet = 0xFFFFFFFE;
// Without inotify the wait looks again this often, and so it does while another account holds
// the state lock of one of its objects (its release rings nothing).
constexpr int kFallbackPollMs = 10;
// A mutex owned in another process is looked at again at least this often: its pidfd may name
// another process (pid reuse, pid namespaces); the lock, not the pid, is the truth.
constexpr int kOwnerRecheckMs = 1000;

// Each waiting thread keeps one inotify descriptor; a forked child makes its own.
struct ThreadInotify {
  int fd = -1;
  ~ThreadInotify() {
    if (fd >= 0) close(fd);
  }
  int Get() {
    if (fd < 0) fd = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    return fd;
  }
};

thread_local ThreadInotify tInotify;

void ForgetInotifyInChild() {
  if (tInotify.fd >= 0) close(tInotify.fd);
  tInotify.fd = -1;
}

[[maybe_unused]] const int gForkHandlers = pthread_atfork(nullptr, nullptr, ForgetInotifyInChild);

// Shorter of two poll timeouts, where -1 means none.
int ShorterTimeout(int a, int b) {
  if (a < 0) return b;
  if (b < 0) return a;
  return std::min(a, b);
}

// One read empties an eventfd, and an inotify queue up to a page of events; anything left
// only makes the next poll return at once.
void DrainDescriptor(int fd) {
  char buffer[4096];
  (void)!read(fd, buffer, sizeof buffer);
}

// One pass over the objects in list order, then the message queue.
uint32_t CheckOnce(std::span<WaitObject* const> objects, std::vector<AcquireProgress>& progress,
                   bool wakeOnMessages) {
  for (size_t i = 0; i < objects.size(); ++i) {
    switch (internal::TryAcquire(objects[i]->State(), progress[i])) {
      case AcquireResult::Acquired:
        return kWaitObject0 + static_cast<uint32_t>(i);
      case AcquireResult::Abandoned:
        return kWaitAbandoned0 + static_cast<uint32_t>(i);
      case AcquireResult::Failed:
        return kWaitFailed;
      case AcquireResult::NotReady:
        break;
    }
  }
  if (wakeOnMessages && internal::CurrentQueueHasMessage()) {
    return static_cast<uint32_t>(objects.size());
  }
  return kNothingYet;
}

// What a blocked wait listens to: inotify watches on the objects' files, the message queue,
// the driven clock, and pidfds of the processes that own awaited mutexes.
class WaitSession {
 public:
  WaitSession(std::span<WaitObject* const> objects, bool wakeOnMessages, Clock& clock)
      : inotify_(tInotify.Get()),
        queue_(wakeOnMessages ? internal::CurrentQueueDescriptor() : -1),
        clock_(clock.ChangeDescriptor()),
        owners_(objects.size()) {
    watching_ = inotify_ >= 0;
    for (WaitObject* object : objects) {
      if (!watching_) break;
      std::string path = internal::DescriptorPath(object->State().Descriptor());
      int watch = inotify_add_watch(inotify_, path.c_str(), IN_ATTRIB);
      watching_ = watch >= 0;  // else look again every few milliseconds
      if (watching_) watches_.push_back(watch);
    }
  }

  ~WaitSession() {
    for (int watch : watches_) inotify_rm_watch(inotify_, watch);
    for (OwnerWatch& owner : owners_) CloseOwner(owner);
  }

  WaitSession(const WaitSession&) = delete;
  WaitSession& operator=(const WaitSession&) = delete;

  // Consumes what the last poll reported; the checks that follow look at everything anyway.
  void Drain() {
    if (inotify_ >= 0) DrainDescriptor(inotify_);
    if (clock_ >= 0) DrainDescriptor(clock_);
    for (const pollfd& entry : polled_) {
      if (entry.revents == 0) continue;
      for (OwnerWatch& owner : owners_) {
        if (owner.pidfd == entry.fd) CloseOwner(owner);  // ended: the re-check takes over
      }
    }
  }

  // Follows the owners that the last checks found (opens a pidfd once per owner process), and
  // the objects whose lock they found taken.
  void TrackOwners(const std::vector<AcquireProgress>& progress) {
    lockBusy_ = false;
    for (size_t i = 0; i < owners_.size(); ++i) {
      lockBusy_ = lockBusy_ || progress[i].lockBusy;
      OwnerWatch& owner = owners_[i];
      owner.active = progress[i].ownedElsewhere;
      uint32_t pid = owner.active ? progress[i].ownerPid : 0;
      if (pid == owner.pid) continue;
      CloseOwner(owner);
      owner.pid = pid;
      if (pid != 0) owner.pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    }
  }

  void Poll(int timeoutMs) {
    polled_.clear();
    for (int fd : {inotify_, queue_, clock_}) {
      if (fd >= 0) polled_.push_back(pollfd{fd, POLLIN, 0});
    }
    for (const OwnerWatch& owner : owners_) {
      if (owner.active) timeoutMs = ShorterTimeout(timeoutMs, kOwnerRecheckMs);
      if (owner.active && owner.pidfd >= 0) polled_.push_back(pollfd{owner.pidfd, POLLIN, 0});
    }
    if (!watching_ || lockBusy_) timeoutMs = ShorterTimeout(timeoutMs, kFallbackPollMs);
    if (poll(polled_.data(), polled_.size(), timeoutMs) <= 0) polled_.clear();
  }

  bool ClockAnnouncesChanges() const { return clock_ >= 0; }

 private:
  struct OwnerWatch {
    uint32_t pid = 0;
    int pidfd = -1;
    bool active = false;
  };

  static void CloseOwner(OwnerWatch& owner) {
    if (owner.pidfd >= 0) close(owner.pidfd);
    owner.pidfd = -1;
  }

  int inotify_;
  bool watching_ = false;  // every object is watched
  bool lockBusy_ = false;  // the last checks found a stranger's state lock taken
  int queue_;
  int clock_;
  std::vector<int> watches_;
  std::vector<OwnerWatch> owners_;
  std::vector<pollfd> polled_;
};

}  // namespace

uint32_t WaitForAny(std::span<WaitObject* const> objects, uint32_t timeoutMs,
                    bool wakeOnMessages) {
  if (objects.size() > kMaximumWaitObjects ||
      std::find(objects.begin(), objects.end(), nullptr) != objects.end()) {
    SetLastError(objects.size() > kMaximumWaitObjects ? kErrorInvalidParameter
                                                      : kErrorInvalidHandle);
    return kWaitFailed;
  }
  Clock& clock = CurrentClock();
  const uint64_t start = timeoutMs == kInfinite ? 0 : clock.MonotonicMs();
  std::vector<AcquireProgress> progress(objects.size());
  uint32_t result = CheckOnce(objects, progress, wakeOnMessages);
  if (result != kNothingYet) return result;
  if (timeoutMs == 0) return kWaitTimeout;
  // Watches go in after the first check; from then on every pass drains what woke it before
  // it checks, so a signal that arrives after a check always wakes the poll that follows.
  WaitSession session(objects, wakeOnMessages, clock);
  for (;;) {
    session.Drain();
    result = CheckOnce(objects, progress, wakeOnMessages);
    if (result != kNothingYet) return result;
    int pollMs = -1;
    if (timeoutMs != kInfinite) {
      uint64_t elapsed = clock.MonotonicMs() - start;
      if (elapsed >= timeoutMs) return kWaitTimeout;
      // A driven clock wakes the poll itself when it moves.
      if (!session.ClockAnnouncesChanges()) {
        pollMs = static_cast<int>(std::min<uint64_t>(timeoutMs - elapsed, INT_MAX));
      }
    }
    session.TrackOwners(progress);
    session.Poll(pollMs);
  }
}

uint32_t WaitForOne(WaitObject& object, uint32_t timeoutMs) {
  WaitObject* objects[] = {&object};
  return WaitForAny(objects, timeoutMs);
}

}  // namespace platform
