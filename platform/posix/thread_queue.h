// What the wait needs from the calling thread's message queue.
#pragma once

namespace platform::internal {

// The eventfd of the calling thread's queue (made on first use): readable while the queue holds
// a message. -1 when no queue could be made.
int CurrentQueueDescriptor();

// True when the calling thread's queue holds a message.
bool CurrentQueueHasMessage();

}  // namespace platform::internal
