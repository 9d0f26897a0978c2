#include "foundation/log/out_of_memory.h"

#include <cstdlib>
#include <mutex>
#include <new>

#include "platform/debug.h"

namespace {

std::mutex g_lock;
std::new_handler g_replaced = nullptr;

void OnOutOfMemory() {
  if (platform::ShowMessageBox(kOutOfMemoryCaption, kOutOfMemoryText) ==
      platform::kMessageBoxRetry) {
    return;  // operator new tries again
  }
  std::_Exit(1);
}

}  // namespace

void InstallOutOfMemoryHandler() {
  std::lock_guard hold(g_lock);
  const std::new_handler previous = std::set_new_handler(OnOutOfMemory);
  if (previous != OnOutOfMemory) g_replaced = previous;
}

void RemoveOutOfMemoryHandler() {
  std::lock_guard hold(g_lock);
  if (std::get_new_handler() != OnOutOfMemory) return;
  std::set_new_handler(g_replaced);
  g_replaced = nullptr;
}
