// Thread message queues within the process, in the manner of PostThreadMessage.
#pragma once
#include <cstdint>

namespace platform {

inline constexpr uint32_t kMessageQuit = 0x0012;
inline constexpr uint32_t kMessageUser = 0x0400;

struct ThreadMessage {
  uint32_t message = 0;
  uintptr_t wParam = 0;
  intptr_t lParam = 0;
};

// The calling thread's id (never 0); unique among the live threads of the machine.
uint32_t CurrentThreadId();
uint32_t CurrentProcessId();

// Gives the calling thread a message queue if it has none (peek and message waits do it too).
void EnsureMessageQueue();

// Queues a message for a thread of this process. False with LastError() 1444 when the thread
// has no message queue.
bool PostThreadMessage(uint32_t threadId, uint32_t message, uintptr_t wParam, intptr_t lParam);

// Looks at the calling thread's queue without waiting; removes the message when `remove`.
bool PeekThreadMessage(ThreadMessage& message, bool remove);

// Waits for a message; false when it is the quit message.
bool GetThreadMessage(ThreadMessage& message);

// A thread message has no window: dispatching it does nothing beyond its removal.
void DispatchThreadMessage(const ThreadMessage& message);

}  // namespace platform
