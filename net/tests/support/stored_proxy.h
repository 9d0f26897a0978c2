// Writes proxy values into the user's part of the provider store, as the settings dialog would;
// a failed write fails the calling test.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "foundation/registry/provider_store.h"

namespace net_test {

inline void StoreProxyText(const char* key, const char* name, const std::string& text) {
  EXPECT_EQ(provider_store::WriteString(key, name, text.c_str(), true), 0u) << name;
}

inline void StoreProxyNumber(const char* key, const char* name, uint32_t value) {
  EXPECT_EQ(provider_store::WriteDword(key, name, value, true), 0u) << name;
}

// A record meant for transfers: "Protocol", "Server", "Port" and "UseForWinINet" set.
inline void StoreTransferProxy(const char* key, const char* protocol, const std::string& server,
                               uint32_t port) {
  StoreProxyText(key, "Protocol", protocol);
  StoreProxyText(key, "Server", server);
  StoreProxyNumber(key, "Port", port);
  StoreProxyNumber(key, "UseForWinINet", 1);
}

// "Authenticate" set with these credentials.
inline void StoreProxyCredentials(const char* key, const std::string& user,
                                  const std::string& password) {
  StoreProxyNumber(key, "Authenticate", 1);
  StoreProxyText(key, "Username", user);
  StoreProxyText(key, "Password", password);
}

}  // namespace net_test
