#include "foundation/locks/swmr_guard.h"

#include <algorithm>
#include <cstdio>

#include "foundation/log/hx_trace.h"
#include "platform/clock.h"

namespace {

constexpr size_t kNameBuffer = 260;
constexpr int32_t kMaximumReaders = 2147483647;
constexpr uint32_t kReaderPollMs = 1000;
constexpr uint32_t kInvalidGuard = static_cast<uint32_t>(-1);

bool Entered(uint32_t waitResult) {
  return waitResult == platform::kWaitObject0 || waitResult == platform::kWaitAbandoned0;
}

void FormatObjectName(char (&buffer)[kNameBuffer], const char* kind, const char* name,
                      const char* ns) {
  if (ns != nullptr) {
    std::snprintf(buffer, sizeof buffer, "%s\\NOLTSWMRG_%s_%s", ns, kind, name);
  } else {
    std::snprintf(buffer, sizeof buffer, "NOLTSWMRG_%s_%s", kind, name);
  }
}

}  // namespace

bool SwmrGuard::Create(const char* name, const char* ns) {
  Destroy();
  if (name == nullptr) return false;
  HxTrace::Instance().TraceL1(kTraceGeneral, "SWMRG namespace=%s\n", ns != nullptr ? ns : "(null)");
  char mutexName[kNameBuffer];
  char semaphoreName[kNameBuffer];
  FormatObjectName(mutexName, "MTX_NOWRITE", name, ns);
  FormatObjectName(semaphoreName, "SEM_READ", name, ns);
  noWrite_ = platform::Mutex::Create(mutexName, false);
  HxTrace::Instance().TraceL1(kTraceGeneral, "SWMRG mutex, name=%s, handle=%d\n", mutexName,
                   noWrite_ ? noWrite_->HandleValue() : 0);
  readers_ = platform::Semaphore::Create(semaphoreName, 0, kMaximumReaders);
  HxTrace::Instance().TraceL1(kTraceGeneral, "SWMRG sem, name=%s, handle=%d\n", semaphoreName,
                   readers_ ? readers_->HandleValue() : 0);
  valid_ = noWrite_ != nullptr && readers_ != nullptr;
  return valid_;
}

bool SwmrGuard::AllowEveryone() {
  return valid_ && noWrite_->SetAccess(platform::ObjectAccess::Everyone) &&
         readers_->SetAccess(platform::ObjectAccess::Everyone);
}

uint32_t SwmrGuard::AcquireRead(uint32_t timeoutMs) {
  if (!valid_) return kInvalidGuard;
  uint32_t result = platform::WaitForOne(*noWrite_, timeoutMs);
  if (!Entered(result)) return result;
  readers_->ReleaseHeld(1);  // ours until we leave: a reader that dies inside is not counted
  noWrite_->Release();
  return result;
}

bool SwmrGuard::ReleaseRead() {
  return valid_ && platform::WaitForOne(*readers_, platform::kInfinite) == platform::kWaitObject0;
}

uint32_t SwmrGuard::AcquireWrite(uint32_t timeoutMs) {
  if (!valid_) return kInvalidGuard;
  platform::Clock& clock = platform::CurrentClock();
  const uint64_t start = timeoutMs == platform::kInfinite ? 0 : clock.MonotonicMs();
  uint32_t result = platform::WaitForOne(*noWrite_, timeoutMs);
  if (!Entered(result)) return result;
  // New readers are kept out by the mutex; wait for the ones inside to leave, within the
  // time-out.
  for (int32_t readers = 0; readers_->Count(readers) && readers > 0;) {
    uint32_t pause = kReaderPollMs;
    if (timeoutMs != platform::kInfinite) {
      uint64_t elapsed = clock.MonotonicMs() - start;
      if (elapsed >= timeoutMs) {
        noWrite_->Release();
        return platform::kWaitTimeout;
      }
      pause = static_cast<uint32_t>(std::min<uint64_t>(pause, timeoutMs - elapsed));
    }
    platform::SleepMs(pause);
  }
  return result;
}

bool SwmrGuard::ReleaseWrite() { return valid_ && noWrite_->Release(); }

void SwmrGuard::Destroy() {
  noWrite_.reset();
  readers_.reset();
  valid_ = false;
}
