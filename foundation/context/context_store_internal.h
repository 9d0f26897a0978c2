// What the context loader needs of the store beyond the public calls.
#pragma once
#include <cstdint>
#include <mutex>

#include "foundation/context/context_store.h"

namespace context_store {

// The store's lock. It is recursive, as the loader reads through the public calls while it
// holds it.
std::recursive_mutex& Lock();

// True when the calling thread has a context of its own. Call with the lock held.
bool ThreadHasContext();

// Puts the context into the store for the calling thread, replacing an older one; the first
// thread that stores one becomes the primary thread. Call with the lock held.
void StoreThreadContext(SdcContext context);

// Stores a pair of section "SdcContext" into the context that this thread reads (its own or the
// primary's), so that filling in a value on first use never gives a thread a context of its own.
// Nothing happens while no context exists.
void StoreReadContextValue(std::string_view key, const HxStr& value);

// The "HKCU" text of a hive: its handle value as a signed decimal ("-2147483647").
HxStr UserHiveText(uint32_t hive);

}  // namespace context_store
