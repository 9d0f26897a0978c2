#include "noltsync/entry/modlet_context.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "foundation/log/host_logger.h"
#include "noltsync/entry/modlet_api.h"
#include "noltsync/runmode/run_context.h"

namespace {
std::atomic<uint32_t> g_masterThreadId{0};
constexpr size_t kObjectNameBuffer = 260;
}  // namespace

ModletContext::ModletContext() = default;
ModletContext::~ModletContext() = default;

uint32_t MasterThreadId() { return g_masterThreadId.load(std::memory_order_acquire); }

void SetMasterThreadId(uint32_t threadId) {
  g_masterThreadId.store(threadId, std::memory_order_release);
}

ModletContext* CreateModletContext(const char* providerId, const char* userId) {
  HostLog(kLogDetail, "ModletInitContext\n");
  auto* context = new (std::nothrow) ModletContext();
  if (context == nullptr) return nullptr;
  context->providerId = providerId;
  context->userId = userId;
  context->state = kModletStateCreated;
  HostLog(kLogDetail, "ModletInitContext..userId: %s providerId: %s\n", context->userId.c_str(),
          context->providerId.c_str());

  char eventName[kObjectNameBuffer];
  std::snprintf(eventName, sizeof eventName, "MODLET_SYNC_%s_%s", context->providerId.c_str(),
                context->userId.c_str());
  context->shutdownEvent = platform::Event::Create(eventName, false, false);
  HostLog(kLogDetail, "ModletInitContext..Created event %s\n", eventName);
  return context;
}

void DisposeModletContext(ModletContext* context) {
  HostLog(kLogDetail, "ModletDisposeContext...\n");
  delete context;
}

void ApplyModletProperty(ModletContext* context, const char* name, const char* value) {
  if (CurrentHostLogger() != nullptr) {
    HostLog(kLogDetail, "ModletSetProperty(%p,%s,%s)\n", static_cast<void*>(context), name,
            value);
  }
  if (name == nullptr || value == nullptr) return;
  if (std::strcmp(name, kPropertyModletName) == 0) {
    if (context != nullptr) context->name = value;
  } else if (std::strcmp(name, kPropertyLogger) == 0) {
    void* address = nullptr;
    if (std::sscanf(value, "%p", &address) == 1) {
      SetHostLogger(reinterpret_cast<HostLoggerFn>(address));
    }
  } else if (std::strcmp(name, kPropertyMasterThreadId) == 0) {
    int threadId = 0;
    if (std::sscanf(value, "%d", &threadId) == 1) SetMasterThreadId(static_cast<uint32_t>(threadId));
  }
}
