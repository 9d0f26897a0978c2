#include "foundation/context/context_store.h"

#include <cstdlib>
#include <map>

#include "foundation/context/context_names.h"
#include "foundation/context/context_store_internal.h"
#include "foundation/context/directory_layout.h"
#include "foundation/kv/hx_kv_file.h"
#include "foundation/registry/provider_store.h"
#include "foundation/transfer/transfer_temp.h"
#include "foundation/users/users.h"
#include "platform/messages.h"
#include "platform/registry.h"
#include "platform/sandbox.h"

namespace names = context_names;

namespace {

constexpr size_t kNameBufferSize = 260;

struct Store {
  std::recursive_mutex lock;
  std::map<uint32_t, SdcContext> contexts;  // by thread id
  uint32_t primaryThread = 0;
  bool hasPrimary = false;
};

// Never destroyed: threads may still read the context while the process ends.
// Freed when the module unloads (or the process ends), with every thread's context.
Store& TheStore() {
  static Store store;
  return store;
}

// The calling thread's context, else the primary thread's; null when there is neither.
SdcContext* ReadableContext(Store& store) {
  auto own = store.contexts.find(platform::CurrentThreadId());
  if (own != store.contexts.end()) return &own->second;
  if (!store.hasPrimary) return nullptr;
  auto primary = store.contexts.find(store.primaryThread);
  return primary != store.contexts.end() ? &primary->second : nullptr;
}

// The registry store's identity: the raw values, without the defaults filled in on read (the
// user-name default itself reads the registry store).
provider_store::ProviderStoreIdentity IdentityFromContext() {
  provider_store::ProviderStoreIdentity identity;
  identity.providerId = GetValue(names::kSection, names::kProviderId);
  identity.userName = GetValue(names::kSection, names::kUserName);
  identity.userHive = ContextUserHive();
  return identity;
}

// Hands the context to the layers below that read it: the registry store's identity, the
// temporary directory of transfers and the encoding of key-value files.
void ConnectContextConsumers() {
  provider_store::SetProviderStoreIdentitySource(&IdentityFromContext);
  SetTempDirectorySource([] { return GetTempRoot(); });
  HxKvFile::SetEncodingSource([] { return GetValue(names::kSection, names::kEncoding); });
}

// The calling thread's context, created with the defaults of a new context when missing.
SdcContext& OwnContext(Store& store) {
  const uint32_t thread = platform::CurrentThreadId();
  auto [entry, created] = store.contexts.try_emplace(thread);
  if (created && !store.hasPrimary) {
    store.hasPrimary = true;
    store.primaryThread = thread;
  }
  if (created) ConnectContextConsumers();
  return entry->second;
}

// What a read of an absent "UserName", "OSUserName" or "HKCU" stores; empty for other keys.
HxStr DefaultOnRead(std::string_view key) {
  if (CompareNoCase(key, names::kUserName) == 0) {
    char buffer[kNameBufferSize] = {};
    TuGetUserName(buffer, sizeof buffer);
    return HxStr(buffer);
  }
  if (CompareNoCase(key, names::kOsUserName) == 0) {
    const std::string user = platform::ProcessUserName();
    return user.empty() ? GetSystemAccountName() : HxStr(user);
  }
  if (CompareNoCase(key, names::kUserHive) == 0) {
    return context_store::UserHiveText(platform::kHkeyCurrentUser);
  }
  return HxStr();
}

}  // namespace

SdcContext::SdcContext() {
  m_sections.AddSection(names::kSection).Put(names::kProviderId, names::kDefaultProviderId);
}

HxStr GetValue(std::string_view section, std::string_view key) {
  Store& store = TheStore();
  std::lock_guard hold(store.lock);
  HxStr value;
  if (const SdcContext* context = ReadableContext(store)) {
    if (const HxKVList* list = context->Sections().GetSection(section)) list->Get(key, value);
  }
  return value;
}

HxStr GetContextValue(std::string_view key) {
  HxStr value = GetValue(names::kSection, key);
  if (!value.IsEmpty()) return value;
  HxStr fallback = DefaultOnRead(key);
  if (fallback.IsEmpty()) return value;
  context_store::StoreReadContextValue(key, fallback);
  return fallback;
}

bool SetValue(std::string_view section, const HxStr& key, const HxStr& value) {
  Store& store = TheStore();
  std::lock_guard hold(store.lock);
  HxKVList* list = OwnContext(store).Sections().GetSection(section);
  if (list == nullptr) return false;
  list->Put(key, value);
  return true;
}

bool SetContextValue(const HxStr& key, const HxStr& value) {
  return SetValue(names::kSection, key, value);
}

void MergeContext(const HxKVListMap& other, bool overwrite, bool replaceSections) {
  Store& store = TheStore();
  std::lock_guard hold(store.lock);
  HxKVListMap& sections = OwnContext(store).Sections();
  for (const auto& [name, list] : other) {
    auto present = sections.find(name);
    if (present == sections.end()) {
      sections.emplace(name, list);
    } else if (replaceSections) {
      sections.erase(present);
      sections.emplace(name, list);
    } else {
      present->second.Merge(list, overwrite);
    }
  }
}

uint32_t ContextUserHive() {
  const HxStr text = GetContextValue(names::kUserHive);
  const long hive = std::atol(text.c_str());
  return hive != 0 ? static_cast<uint32_t>(static_cast<int32_t>(hive)) : platform::kHkeyCurrentUser;
}

void ClearContextStore() {
  Store& store = TheStore();
  std::lock_guard hold(store.lock);
  store.contexts.clear();
  store.hasPrimary = false;
  store.primaryThread = 0;
}

namespace context_store {

std::recursive_mutex& Lock() { return TheStore().lock; }

bool ThreadHasContext() { return TheStore().contexts.count(platform::CurrentThreadId()) != 0; }

void StoreThreadContext(SdcContext context) {
  Store& store = TheStore();
  OwnContext(store) = std::move(context);
  ConnectContextConsumers();
}

HxStr UserHiveText(uint32_t hive) {
  HxStr text;
  text.Format("%d", static_cast<int32_t>(hive));
  return text;
}

void StoreReadContextValue(std::string_view key, const HxStr& value) {
  Store& store = TheStore();
  std::lock_guard hold(store.lock);
  if (SdcContext* context = ReadableContext(store)) {
    if (HxKVList* section = context->Sections().GetSection(names::kSection)) {
      section->Put(HxStr(key), value);
    }
  }
}

}  // namespace context_store
