#include "platform/clock.h"

#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/sync.h"

namespace platform {
namespace {

// Seconds from 1601-01-01 (the file-time epoch) to 1970-01-01.
constexpr uint64_t kEpochDifferenceSeconds = 11644473600ULL;

class SystemClock final : public Clock {
 public:
  uint64_t MonotonicMs() override {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000 + static_cast<uint64_t>(now.tv_nsec) / 1000000;
  }
  uint64_t FileTimeNow() override {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return (static_cast<uint64_t>(now.tv_sec) + kEpochDifferenceSeconds) * 10000000 +
           static_cast<uint64_t>(now.tv_nsec) / 100;
  }
};

SystemClock& TheSystemClock() {
  static SystemClock clock;
  return clock;
}

std::atomic<Clock*> gInstalledClock{nullptr};

// True while the thread of this process sits in poll, the blocking step of every wait.
bool BlockedInPoll(pid_t thread) {
  std::ifstream file("/proc/self/task/" + std::to_string(thread) + "/syscall");
  long number = -1;
  if (!(file >> number)) return false;
#ifdef SYS_poll
  if (number == SYS_poll) return true;
#endif
  return number == SYS_ppoll;
}

}  // namespace

Clock& CurrentClock() {
  Clock* installed = gInstalledClock.load(std::memory_order_acquire);
  return installed != nullptr ? *installed : TheSystemClock();
}

void InstallClock(Clock* clock) { gInstalledClock.store(clock, std::memory_order_release); }

struct DrivenClock::Impl {
  std::mutex mutex;
  std::atomic<uint64_t> monotonicMs{0};
  uint64_t fileTimeBase = 0;             // the file time at monotonic 0
  std::map<pid_t, int> changeDescriptors;  // one eventfd per thread that asked
  std::map<pid_t, uint64_t> lastRead;      // the time each thread last read

  // The threads that watch the clock and have read its current time; called with the mutex held.
  std::vector<pid_t> ThreadsAtTheCurrentTime() const {
    std::vector<pid_t> threads;
    for (const auto& [thread, descriptor] : changeDescriptors) {
      auto read = lastRead.find(thread);
      if (read != lastRead.end() && read->second == monotonicMs.load()) threads.push_back(thread);
    }
    return threads;
  }

  // Wakes every thread that watches the clock; called with the mutex held.
  void AnnounceChange() {
    const uint64_t one = 1;
    for (const auto& [thread, descriptor] : changeDescriptors) {
      (void)!write(descriptor, &one, sizeof one);
    }
  }
};

DrivenClock::DrivenClock(uint64_t fileTimeStart) : impl_(new Impl) {
  impl_->fileTimeBase = fileTimeStart;
}

DrivenClock::~DrivenClock() {
  Clock* self = this;
  gInstalledClock.compare_exchange_strong(self, nullptr);
  for (const auto& [thread, descriptor] : impl_->changeDescriptors) close(descriptor);
  delete impl_;
}

uint64_t DrivenClock::MonotonicMs() {
  std::lock_guard lock(impl_->mutex);
  uint64_t now = impl_->monotonicMs.load();
  impl_->lastRead[gettid()] = now;
  return now;
}

uint64_t DrivenClock::FileTimeNow() {
  std::lock_guard lock(impl_->mutex);
  return impl_->fileTimeBase + impl_->monotonicMs.load() * 10000;
}

int DrivenClock::ChangeDescriptor() {
  std::lock_guard lock(impl_->mutex);
  pid_t thread = gettid();
  auto found = impl_->changeDescriptors.find(thread);
  if (found != impl_->changeDescriptors.end()) return found->second;
  int descriptor = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (descriptor >= 0) impl_->changeDescriptors[thread] = descriptor;
  return descriptor;
}

void DrivenClock::Advance(uint64_t milliseconds) {
  std::lock_guard lock(impl_->mutex);
  impl_->monotonicMs += milliseconds;
  impl_->AnnounceChange();
}

void DrivenClock::SetFileTime(uint64_t fileTime) {
  std::lock_guard lock(impl_->mutex);
  impl_->fileTimeBase = fileTime - impl_->monotonicMs.load() * 10000;
  impl_->AnnounceChange();
}

bool DrivenClock::WaitUntilWaiting(size_t threads, uint32_t realTimeoutMs) {
  // A timed wait reads the clock right before it blocks, so a thread blocked after reading the
  // current time will see the next move. The caller is the one that moves the time, so the
  // candidates stay put while it looks.
  auto giveUp = std::chrono::steady_clock::now() + std::chrono::milliseconds(realTimeoutMs);
  for (;;) {
    std::vector<pid_t> candidates;
    {
      std::lock_guard lock(impl_->mutex);
      candidates = impl_->ThreadsAtTheCurrentTime();
    }
    size_t parked = 0;
    for (pid_t thread : candidates) parked += BlockedInPoll(thread) ? 1 : 0;
    if (parked >= threads) return true;
    if (std::chrono::steady_clock::now() >= giveUp) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
}

uint32_t TickCount() { return static_cast<uint32_t>(CurrentClock().MonotonicMs()); }

void SleepMs(uint32_t milliseconds) { WaitForAny({}, milliseconds, false); }

}  // namespace platform
