#include "foundation/context/machine_id.h"

#include <mutex>

#include "foundation/context/context_names.h"
#include "foundation/context/context_registry.h"
#include "foundation/context/context_store.h"
#include "foundation/context/system_folders.h"
#include "platform/guid.h"
#include "platform/registry.h"

namespace names = context_names;

namespace {

constexpr size_t kMaxIdLength = 260;

struct MachineIdState {
  std::mutex lock;
  HxStr id;
};

MachineIdState& State() {
  static MachineIdState* state = new MachineIdState;
  return *state;
}

bool ReadId(uint32_t root, const char* path, const HxStr& name, HxStr& id) {
  return context_registry::ReadText(root, path, name, id, kMaxIdLength) && !id.IsEmpty();
}

// The machine's classes key when it can be opened for writing, else the user's (created).
bool StoreId(const HxStr& name, const HxStr& id) {
  platform::RegistryKey key;
  if (key.Open(platform::kHkeyLocalMachine, names::kClasses, platform::kKeyWrite) == 0 &&
      context_registry::WriteText(key, name, id)) {
    return true;
  }
  return context_registry::WriteText(ContextUserHive(), names::kClasses, name, id);
}

}  // namespace

HxStr MachineIdValueName() {
  HxStr name;
  name.Format("%s_%s", "TMID", GetSystemFolder(kFolderMachineName).c_str());
  return name;
}

HxStr GetMachineId() {
  MachineIdState& state = State();
  std::lock_guard hold(state.lock);
  if (!state.id.IsEmpty()) return state.id;
  const HxStr name = MachineIdValueName();
  HxStr found;
  if (ReadId(ContextUserHive(), names::kClasses, name, found) ||
      ReadId(platform::kHkeyLocalMachine, names::kClasses, name, found)) {
    state.id = found;
    return state.id;
  }
  if (!ReadId(platform::kHkeyClassesRoot, "", name, found)) {
    found = platform::NewGuidString();
    found.MakeLower();
  }
  if (!found.IsEmpty() && StoreId(name, found)) state.id = found;
  return state.id;
}

void ForgetMachineId() {
  MachineIdState& state = State();
  std::lock_guard hold(state.lock);
  state.id.Empty();
}
