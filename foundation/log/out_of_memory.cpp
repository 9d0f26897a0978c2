#include "foundation/log/out_of_memory.h"

#include <cstdlib>
#include <new>

#include "platform/debug.h"

namespace {

void OnOutOfMemory() {
  if (platform::ShowMessageBox(kOutOfMemoryCaption, kOutOfMemoryText) ==
      platform::kMessageBoxRetry) {
    return;  // operator new tries again
  }
  std::_Exit(1);
}

}  // namespace

void InstallOutOfMemoryHandler() { std::set_new_handler(OnOutOfMemory); }
