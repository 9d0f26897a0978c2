#include "platform/messages.h"

#include <sys/eventfd.h>
#include <pthread.h>
#include <unistd.h>

#include <deque>
#include <map>
#include <memory>
#include <mutex>

#include "platform/errors.h"
#include "platform/sync.h"
#include "fork_guard.h"
#include "thread_queue.h"

namespace platform {
namespace {

// As many messages as a queue accepts before posting fails.
constexpr size_t kQueueLimit = 10000;

// One thread's queue. Its eventfd is readable exactly while messages are queued: posting
// writes to it, taking the last message drains it, both under the queue's mutex.
struct MessageQueue {
  std::mutex mutex;
  std::deque<ThreadMessage> messages;
  int descriptor = -1;

  MessageQueue() : descriptor(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
  ~MessageQueue() {
    if (descriptor >= 0) close(descriptor);
  }
  MessageQueue(const MessageQueue&) = delete;
  MessageQueue& operator=(const MessageQueue&) = delete;

  void DrainDescriptor() {
    uint64_t count = 0;
    (void)!read(descriptor, &count, sizeof count);
  }
};

// The queues of this process's threads by thread id.
std::mutex gQueuesMutex;
std::map<uint32_t, std::shared_ptr<MessageQueue>> gQueues;

// Removes the thread's queue when the thread ends, so that posting to it fails with 1444.
struct ThreadQueueOwner {
  std::shared_ptr<MessageQueue> queue;
  uint32_t threadId = 0;
  ~ThreadQueueOwner() {
    if (!queue) return;
    std::lock_guard lock(gQueuesMutex);
    auto found = gQueues.find(threadId);
    if (found != gQueues.end() && found->second == queue) gQueues.erase(found);
  }
};

thread_local ThreadQueueOwner tQueueOwner;

MessageQueue* CurrentQueue() {
  if (!tQueueOwner.queue) {
    auto queue = std::make_shared<MessageQueue>();
    if (queue->descriptor < 0) return nullptr;
    tQueueOwner.threadId = CurrentThreadId();
    tQueueOwner.queue = queue;
    std::lock_guard lock(gQueuesMutex);
    gQueues[tQueueOwner.threadId] = queue;
  }
  return tQueueOwner.queue.get();
}

// The id is read once per thread. A forked child's thread has a new id: the child forgets the
// cached one in the first fork handler that may ask for it (below).
thread_local uint32_t tThreadId = 0;
void ForgetThreadIdInChild() { tThreadId = 0; }

// A forked child has only the forking thread: the other threads' queues are gone, and the
// forking thread gets a queue of its own instead of sharing the parent's eventfd.
void ResetQueuesInChild() {
  ForgetThreadIdInChild();
  gQueues.clear();
  bool hadQueue = tQueueOwner.queue != nullptr;
  tQueueOwner.queue.reset();
  if (hadQueue) CurrentQueue();
}

[[maybe_unused]] const int gForkHandlers =
    internal::ForkGuard<&gQueuesMutex, ResetQueuesInChild>::Register();

}  // namespace

uint32_t CurrentThreadId() {
  if (tThreadId == 0) tThreadId = static_cast<uint32_t>(gettid());
  return tThreadId;
}

uint32_t CurrentProcessId() { return static_cast<uint32_t>(getpid()); }

void EnsureMessageQueue() { CurrentQueue(); }

bool PostThreadMessage(uint32_t threadId, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  std::shared_ptr<MessageQueue> queue;
  {
    std::lock_guard lock(gQueuesMutex);
    auto found = gQueues.find(threadId);
    if (found != gQueues.end()) queue = found->second;
  }
  if (!queue) {
    SetLastError(kErrorInvalidThreadId);
    return false;
  }
  std::lock_guard lock(queue->mutex);
  if (queue->messages.size() >= kQueueLimit) {
    SetLastError(kErrorNotEnoughQuota);
    return false;
  }
  queue->messages.push_back(ThreadMessage{message, wParam, lParam});
  const uint64_t one = 1;
  (void)!write(queue->descriptor, &one, sizeof one);
  return true;
}

bool PeekThreadMessage(ThreadMessage& message, bool remove) {
  MessageQueue* queue = CurrentQueue();
  if (queue == nullptr) return false;
  std::lock_guard lock(queue->mutex);
  if (queue->messages.empty()) return false;
  message = queue->messages.front();
  if (remove) {
    queue->messages.pop_front();
    if (queue->messages.empty()) queue->DrainDescriptor();
  }
  return true;
}

bool GetThreadMessage(ThreadMessage& message) {
  while (!PeekThreadMessage(message, true)) {
    if (WaitForAny({}, kInfinite, true) == kWaitFailed) {
      message = ThreadMessage{kMessageQuit, 0, 0};
      break;
    }
  }
  return message.message != kMessageQuit;
}

void DispatchThreadMessage(const ThreadMessage& message) { (void)message; }

namespace internal {

int CurrentQueueDescriptor() {
  MessageQueue* queue = CurrentQueue();
  return queue != nullptr ? queue->descriptor : -1;
}

bool CurrentQueueHasMessage() {
  MessageQueue* queue = CurrentQueue();
  if (queue == nullptr) return false;
  std::lock_guard lock(queue->mutex);
  return !queue->messages.empty();
}

}  // namespace internal
}  // namespace platform
