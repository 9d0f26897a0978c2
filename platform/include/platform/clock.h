// The one clock of the system. Every read of the time and every timed wait goes through it,
// so that tests can drive hours of schedule in milliseconds.
#pragma once
#include <cstddef>
#include <cstdint>

namespace platform {

class Clock {
 public:
  virtual ~Clock() = default;
  // Milliseconds of a monotonic clock.
  virtual uint64_t MonotonicMs() = 0;
  // The current UTC time as a file time: 100-nanosecond intervals since 1601-01-01.
  virtual uint64_t FileTimeNow() = 0;
  // For a driven clock: a descriptor of the calling thread that becomes readable whenever the
  // time moves, so that its waits re-check their deadline (the waiter drains it by reading
  // 8 bytes); -1 for the system clock.
  virtual int ChangeDescriptor() { return -1; }
};

// The clock in force (the system clock unless a test installed another).
Clock& CurrentClock();

// Installs a clock for the whole process; null restores the system clock.
void InstallClock(Clock* clock);

// A clock that moves only when told to. Waiting threads see every move at once. Its monotonic
// milliseconds start at 0; its file time at `fileTimeStart` and moves along with them.
// Destroying an installed driven clock restores the system clock.
class DrivenClock final : public Clock {
 public:
  explicit DrivenClock(uint64_t fileTimeStart = 0x01DB000000000000ULL);
  ~DrivenClock() override;
  uint64_t MonotonicMs() override;
  uint64_t FileTimeNow() override;
  int ChangeDescriptor() override;
  void Advance(uint64_t milliseconds);
  void SetFileTime(uint64_t fileTime);
  // Waits, for at most `realTimeoutMs` of real time, until at least `threads` threads of this
  // process are parked in a timed wait on this clock: blocked in the wait's poll after reading
  // the clock's current time, so that the next Advance reaches their deadline. False when they
  // never all got there. (A thread that read the current time and then blocked in a wait
  // without a time-out also counts.)
  bool WaitUntilWaiting(size_t threads, uint32_t realTimeoutMs);

 private:
  struct Impl;
  Impl* impl_;
};

// GetTickCount: the monotonic milliseconds, cut to 32 bits.
uint32_t TickCount();

// Sleeps for the given milliseconds of the current clock (kInfinite: for ever).
void SleepMs(uint32_t milliseconds);

}  // namespace platform
