#include "loop_test_fixture.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "foundation/context/context_store.h"
#include "noltsync/engine/sync_loops.h"
#include "noltsync/runmode/run_context.h"
#include "noltsync/updater/nolt_updater.h"
#include "noltsync/uploader/nolt_uploader.h"
#include "platform/messages.h"
#include "platform/sync.h"

class LoopTest::WaitRecorder : public SyncLoopObserver {
 public:
  void BeforeWait(uint32_t timeoutMs) override {
    std::lock_guard<std::mutex> lock(mutex_);
    timeouts_.push_back(timeoutMs);
    changed_.notify_all();
  }
  std::optional<uint32_t> Await(size_t n) {
    std::unique_lock<std::mutex> lock(mutex_);
    // A failure guard, never a pause.
    if (!changed_.wait_for(lock, std::chrono::seconds(20), [&] { return timeouts_.size() >= n; })) {
      return std::nullopt;
    }
    return timeouts_[n - 1];
  }
  size_t Count() {
    std::lock_guard<std::mutex> lock(mutex_);
    return timeouts_.size();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<uint32_t> timeouts_;
};

LoopTest::LoopTest() : waits_(std::make_unique<WaitRecorder>()) {
  context_ = CreateModletContext(kProvider, kUser);
  context_->server = GetContextValue("DnaServer");
  // The prune mask says no prune is pending, so the loop's start-up asks for none.
  PutUserString("PruneOfflineMask", "op");
}

LoopTest::~LoopTest() { DisposeModletContext(context_); }

void LoopTest::RunLoop(Loop loop, const std::function<void()>& driver) {
  const bool notified = loop == Loop::kNotified;
  context_->state = kModletStateRunning;
  context_->runContext = std::make_unique<RunContext>(false, false, true, notified, false,
                                                      HxStr(kUser), HxStr(kProvider));
  // An updater that reports changed content when the test asks for it.
  class LoopUpdater : public NoltUpdater {
   public:
    LoopUpdater(const HxStr& provider, const HxStr& server, bool changed)
        : NoltUpdater(provider, server), changed_(changed) {}
    bool IsContextReloadNeeded() const override { return changed_; }

   private:
    bool changed_;
  };
  LoopUpdater updater(context_->providerId, context_->server, announceNewData_);
  updater.SetUserName(kUser);
  NoltUploader uploader(context_->providerId, context_->server, notified);
  uploader.SetUserName(kUser);
  loopThreadId_ = platform::CurrentThreadId();
  std::thread driving([this, &driver] {
    driver();
    context_->shutdownEvent->Set();
  });
  (notified ? RunNotifiedLoop : RunScheduledLoop)(*context_, updater, uploader, waits_.get());
  driving.join();
}

std::optional<uint32_t> LoopTest::AwaitWait(size_t n) { return waits_->Await(n); }

size_t LoopTest::WaitCount() { return waits_->Count(); }

void LoopTest::SignalEvent(const std::string& prefix) {
  auto event = platform::Event::Open(prefix + "_" + kProvider + "_" + kUser);
  ASSERT_NE(event, nullptr) << prefix;
  event->Set();
}
