#include "loop_test_fixture.h"

#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include "foundation/context/context_store.h"
#include "foundation/log/host_logger.h"
#include "noltsync/runmode/run_context.h"
#include "noltsync/updater/nolt_updater.h"
#include "noltsync/uploader/nolt_uploader.h"
#include "platform/messages.h"
#include "platform/sync.h"

namespace {

constexpr auto kGuard = std::chrono::seconds(20);  // a failure guard, never a pause

std::mutex g_hookMutex;
std::string g_hookPrefix;
std::function<void()> g_hookAction;
HostLoggerFn g_captureLogger = nullptr;

// Hands each line to the fixture's capture and runs the pending hook when its prefix matches.
extern "C" void HookingLogger(uint32_t category, uint32_t level, const char* format, ...) {
  char text[2048];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (g_captureLogger != nullptr) g_captureLogger(category, level, "%s", text);
  std::function<void()> action;
  {
    std::lock_guard<std::mutex> lock(g_hookMutex);
    if (g_hookAction && std::string(text).rfind(g_hookPrefix, 0) == 0) action.swap(g_hookAction);
  }
  if (action) action();
}

}  // namespace

class LoopTest::WaitRecorder : public SyncLoopObserver {
 public:
  void BeforeWait(uint32_t timeoutMs) override {
    std::lock_guard<std::mutex> lock(mutex_);
    timeouts_.push_back(timeoutMs);
    changed_.notify_all();
  }
  std::optional<uint32_t> Await(size_t n) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!changed_.wait_for(lock, kGuard, [&] { return timeouts_.size() >= n; })) {
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
  if (CurrentHostLogger() != &HookingLogger) g_captureLogger = CurrentHostLogger();
  SetHostLogger(&HookingLogger);
  context_ = CreateModletContext(kProvider, kUser);
  context_->server = GetContextValue("DnaServer");
  // The prune mask says no prune is pending, so the loop's start-up asks for none.
  PutUserString("PruneOfflineMask", "op");
}

LoopTest::~LoopTest() {
  {
    std::lock_guard<std::mutex> lock(g_hookMutex);
    g_hookAction = nullptr;
  }
  DisposeModletContext(context_);
}

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
    SignalShutdown();
  });
  if (notified) {
    RunNotifiedLoop(*context_, updater, uploader, waits_.get());
  } else {
    RunScheduledLoop(*context_, updater, uploader, waits_.get());
  }
  driving.join();
}

std::optional<uint32_t> LoopTest::AwaitWait(size_t n) { return waits_->Await(n); }

size_t LoopTest::WaitCount() { return waits_->Count(); }

void LoopTest::OnLogLine(const std::string& prefix, std::function<void()> action) {
  std::lock_guard<std::mutex> lock(g_hookMutex);
  g_hookPrefix = prefix;
  g_hookAction = std::move(action);
}

void LoopTest::SignalEvent(const std::string& prefix) {
  auto event = platform::Event::Open(prefix + "_" + kProvider + "_" + kUser);
  ASSERT_NE(event, nullptr) << prefix;
  event->Set();
}

void LoopTest::SignalShutdown() { context_->shutdownEvent->Set(); }
