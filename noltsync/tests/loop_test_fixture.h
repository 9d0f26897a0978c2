// Runs a sync loop on the test thread over the engine fixture's driven clock, while a driver
// thread acts on it between its waits (moves the clock, signals events, posts messages).
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "engine_test_fixture.h"
#include "noltsync/entry/modlet_context.h"

class LoopTest : public EngineTest {
 public:
  static std::string UserName() { return kUser; }

 protected:
  enum class Loop { kScheduled, kNotified };

  LoopTest();
  ~LoopTest() override;

  // Runs the loop until it ends; `driver` runs meanwhile on a thread of its own. Whatever the
  // driver does, the loop is stopped when the driver returns.
  void RunLoop(Loop loop, const std::function<void()>& driver);
  // On the driver thread: the timeout (ms) of the loop's n-th wait (from 1), once that wait is
  // about to begin; nullopt when it does not come within the real-time guard.
  std::optional<uint32_t> AwaitWait(size_t n);
  size_t WaitCount();
  // Signals a named event of the loop ("MODLET_PRUNE", ...) for this provider and user.
  static void SignalEvent(const std::string& prefix);
  uint32_t LoopThreadId() const { return loopThreadId_; }
  // Makes the loop's updater report that content changed, so each update announces new data.
  void AnnounceNewData() { announceNewData_ = true; }

 private:
  class WaitRecorder;
  std::unique_ptr<WaitRecorder> waits_;
  ModletContext* context_ = nullptr;
  uint32_t loopThreadId_ = 0;
  bool announceNewData_ = false;
};
