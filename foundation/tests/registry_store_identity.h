// Gives the provider store a fixed identity (provider id, user name, per-user hive) for the life
// of the object, in place of the process context's.
#pragma once
#include <cstdint>

#include "foundation/registry/provider_store.h"

class ScopedStoreIdentity {
 public:
  ScopedStoreIdentity(const char* providerId, const char* userName,
                      uint32_t userHive = platform::kHkeyCurrentUser) {
    Current() = {providerId, userName, userHive};
    provider_store::SetProviderStoreIdentitySource(&Source);
  }
  ~ScopedStoreIdentity() { provider_store::SetProviderStoreIdentitySource(nullptr); }
  ScopedStoreIdentity(const ScopedStoreIdentity&) = delete;
  ScopedStoreIdentity& operator=(const ScopedStoreIdentity&) = delete;

  static provider_store::ProviderStoreIdentity& Current() {
    static provider_store::ProviderStoreIdentity identity;
    return identity;
  }

 private:
  static provider_store::ProviderStoreIdentity Source() { return Current(); }
};
