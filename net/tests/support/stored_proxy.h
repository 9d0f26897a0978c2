// Writes proxy values into the user's part of the provider store, as the settings dialog would;
// a failed write fails the calling test.
#pragma once
#include <cstdint>
#include <string>

namespace net_test {

void StoreProxyText(const char* key, const char* name, const std::string& text);
void StoreProxyNumber(const char* key, const char* name, uint32_t value);
// A record meant for transfers: "Protocol", "Server", "Port" and "UseForWinINet" set.
void StoreTransferProxy(const char* key, const char* protocol, const std::string& server,
                        uint32_t port);
// "Authenticate" set with these credentials.
void StoreProxyCredentials(const char* key, const std::string& user, const std::string& password);

}  // namespace net_test
