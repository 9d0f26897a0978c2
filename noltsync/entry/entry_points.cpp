// The nine functions that the host looks up by name. Everything else in the library is hidden.
#include "foundation/log/host_logger.h"
#include "noltsync/entry/modlet_api.h"
#include "noltsync/entry/modlet_context.h"
#include "noltsync/entry/module_lifetime.h"
#include "noltsync/entry/start_sequence.h"

#define MODLET_EXPORT extern "C" __attribute__((visibility("default")))

namespace {
ModletContext* AsContext(void* handle) { return static_cast<ModletContext*>(handle); }

// The library's load and unload routines.
__attribute__((constructor)) void LibraryLoaded() { OnModuleLoad(); }
__attribute__((destructor)) void LibraryUnloaded() { OnModuleUnload(); }
}  // namespace

MODLET_EXPORT int ModletInit(void) {
  HostLog(kLogDetail, "ModletInit called\n");
  return 0;
}

MODLET_EXPORT void* ModletInitContext(const char* providerId, const char* userId) {
  return CreateModletContext(providerId, userId);
}

MODLET_EXPORT int ModletGetProperty(void* context, const char* name) {
  HostLog(kLogDetail, "ModletGetProperty(%p,%s)\n", context, name);
  return 0;
}

MODLET_EXPORT int ModletSetProperty(void* context, const char* name, const char* value) {
  ApplyModletProperty(AsContext(context), name, value);
  return 0;
}

MODLET_EXPORT int ModletStart(void* context) {
  if (context != nullptr) RunModletStart(*AsContext(context));
  return 0;
}

MODLET_EXPORT int ModletStop(void* context) {
  HostLog(kLogInfo, "ModletStop entered...signaling shutdown event.\n");
  ModletContext* modlet = AsContext(context);
  if (modlet == nullptr) return 0;
  if (modlet->shutdownEvent) modlet->shutdownEvent->Set();
  return modlet->state.load();
}

MODLET_EXPORT int ModletGetState(void* context) {
  return context != nullptr ? AsContext(context)->state.load() : 0;
}

MODLET_EXPORT int ModletDisposeContext(void* context) {
  DisposeModletContext(AsContext(context));
  return 0;
}

MODLET_EXPORT int ModletDispose(void) {
  HostLog(kLogDetail, "ModletDispose...\n");
  return 0;
}
