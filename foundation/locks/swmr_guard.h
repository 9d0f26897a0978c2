// A named single-writer/multi-reader guard shared between processes: a no-write mutex that
// keeps new readers and other writers out, and a semaphore that counts the readers inside.
#pragma once
#include <cstdint>
#include <memory>

#include "foundation/strings/hx_str.h"
#include "platform/sync.h"

class SwmrGuard {
 public:
  SwmrGuard() = default;
  ~SwmrGuard() { Destroy(); }
  SwmrGuard(const SwmrGuard&) = delete;
  SwmrGuard& operator=(const SwmrGuard&) = delete;

  // Creates or opens both objects; `ns` (e.g. "Global") may be null. Returns the valid flag.
  bool Create(const char* name, const char* ns = nullptr);
  // Lets every account use both objects (the guards the service shares with user sessions).
  bool AllowEveryone();

  // Wait results: 0 (or 0x80 after an abandoned owner) when inside, 258 on time-out, -1 for an
  // invalid guard.
  uint32_t AcquireRead(uint32_t timeoutMs);
  bool ReleaseRead();
  // Holds the no-write mutex and waits, polling once a second, until no reader is inside; 258
  // when the time-out passes first (it bounds both waits). A reader that died inside does not
  // count.
  uint32_t AcquireWrite(uint32_t timeoutMs);
  bool ReleaseWrite();
  void Destroy();

  bool IsValid() const { return valid_; }

 private:
  std::unique_ptr<platform::Mutex> noWrite_;
  std::unique_ptr<platform::Semaphore> readers_;
  bool valid_ = false;
};
