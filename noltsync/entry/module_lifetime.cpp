#include "noltsync/entry/module_lifetime.h"

#include <cstdint>

#include "foundation/files/file_operations.h"
#include "foundation/log/hx_trace.h"
#include "foundation/log/out_of_memory.h"
#include "net/http/http_transfer.h"
#include "platform/registry.h"

namespace {

constexpr const char* kGeneralKeyWithoutProvider = "SOFTWARE\\Strovane\\ProviderList\\General";

// A value that is absent or not a double word leaves the default.
uint32_t ReadMask(const platform::RegistryKey& key, const char* name, uint32_t fallback) {
  uint32_t type = 0;
  uint32_t value = 0;
  uint32_t size = sizeof value;
  if (key.QueryValue(name, &type, &value, &size) != 0 || type != platform::kRegDword ||
      size != sizeof value) {
    return fallback;
  }
  return value;
}

}  // namespace

void OnModuleLoad() {
  InstallOutOfMemoryHandler();
  // Files in use are not replaced or deleted at the next restart unless a step asks for it.
  SetReplaceDeferral(false);
  SetDeleteDeferral(false);
  // Every "http:" and "https:" location goes through the factory, from the first context on.
  RegisterHttpTransferObjects();

  platform::RegistryKey general;
  if (general.Open(platform::kHkeyLocalMachine, kGeneralKeyWithoutProvider, platform::kKeyRead) !=
      0) {
    return;
  }
  HxTrace& trace = HxTrace::Instance();
  trace.SetMasks(ReadMask(general, "TraceMask", trace.TraceMask()),
                 ReadMask(general, "LevelMask", trace.LevelMask()));
}

void OnModuleUnload() {
  // The handler is code of this library: it must not outlive it in the process.
  RemoveOutOfMemoryHandler();
}
