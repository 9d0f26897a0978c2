// The per-(provider, user) record that the host holds between ModletInitContext and
// ModletDisposeContext, and the process-wide words the host may set.
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>

#include "foundation/strings/hx_str.h"
#include "noltsync/entry/modlet_api.h"
#include "platform/sync.h"

class RunContext;

struct ModletContext {
  HxStr providerId;
  HxStr userId;
  HxStr server;      // the download server, from the loaded context at each start
  HxStr userServer;  // the server stored for this user; the uploader's location
  HxStr name;        // set by "MODLET_NAME"; handed to the host in the notification record
  std::atomic<int32_t> state{0};
  std::unique_ptr<platform::Event> shutdownEvent;  // auto-reset, "MODLET_SYNC_<p>_<u>"
  std::unique_ptr<RunContext> runContext;
  // Built by the sync loop at its start; lives here, not on the loop's stack, because the host
  // may read a queued notification after the loop returned.
  SyncNotifyRecord notifyRecord{};

  ModletContext();
  ~ModletContext();
};

// Creates the record and its shutdown event (opened when another context made it already).
ModletContext* CreateModletContext(const char* providerId, const char* userId);
void DisposeModletContext(ModletContext* context);

// The master thread id that new-data messages go to; 0 until the host sets it.
uint32_t MasterThreadId();
void SetMasterThreadId(uint32_t threadId);

// Applies one property; unknown names and values that do not scan change nothing.
void ApplyModletProperty(ModletContext* context, const char* name, const char* value);
