// Requests to end the process (SIGINT, SIGTERM), turned into a callback on a thread of its own.
#pragma once
#include <functional>

namespace platform {

// Must be called before the process starts other threads: it blocks the termination signals in
// the calling thread (so in every thread created afterwards) and runs `onRequest` on a
// dedicated thread each time one arrives. That thread lives until the process ends, so whatever
// `onRequest` uses must too (share it rather than point at a local).
void HandleTerminationRequests(std::function<void()> onRequest);

}  // namespace platform
