#include "net/http/proxy_settings.h"

#include <array>
#include <cstdlib>
#include <filesystem>
#include <initializer_list>
#include <mutex>
#include <optional>

#include "foundation/registry/provider_store.h"
#include "foundation/secrets/protected_value.h"
#include "platform/clock.h"
#include "platform/locations.h"

namespace {

constexpr std::string_view kSchemeSeparator = "://";
constexpr uint64_t kFileTimeUnitsPerMs = 10000;  // 100-nanosecond intervals

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

std::string Text(const char* subKey, const char* name) {
  HxStr value;
  provider_store::ReadString(subKey, name, value, true);
  return std::string(value.c_str());
}

uint32_t Number(const char* subKey, const char* name) {
  uint32_t value = 0;
  provider_store::ReadDword(subKey, name, value, true);
  return value;
}

bool Flag(const char* subKey, const char* name) {
  bool value = false;
  provider_store::ReadBool(subKey, name, value, true);
  return value;
}

// Whether the Temp record holds a timestamp younger, in whole minutes, than its duration.
bool TempRecordInForce() {
  HxStr stamp;
  if (provider_store::ReadString(kProxyTempKey, "Timestamp", stamp, true) != 0) return false;
  HxTime timestamp;
  if (!timestamp.FromHex(stamp.c_str())) return false;
  const int64_t ageMinutes = HxTime::Now().Difference(timestamp) / HxTime::kMinute;
  return ageMinutes < static_cast<int64_t>(Number(kProxyTempKey, "Duration"));
}

// An environment variable; empty when it is not set.
std::string Variable(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::string(value) : std::string();
}

// The environment variable in lower case, else in upper case.
std::string Environment(const char* lower, const char* upper) {
  std::string value = Variable(lower);
  return value.empty() ? Variable(upper) : value;
}

struct EnvironmentProxies {
  std::string http, https, all, noProxy;
  bool operator==(const EnvironmentProxies&) const = default;
};

EnvironmentProxies ReadEnvironmentProxies() {
  return {Environment("http_proxy", "HTTP_PROXY"), Environment("https_proxy", "HTTPS_PROXY"),
          Environment("all_proxy", "ALL_PROXY"), Environment("no_proxy", "NO_PROXY")};
}

// A proxy given without a scheme is an HTTP proxy.
std::string WithScheme(const std::string& proxy) {
  return proxy.find(kSchemeSeparator) == std::string::npos ? "http://" + proxy : proxy;
}

// "host:port" of an HTTP proxy URL, "scheme://host:port" of any other; no credentials or path.
std::string ServerListEntry(const std::string& proxy) {
  const std::string url = WithScheme(proxy);
  const size_t schemeEnd = url.find(kSchemeSeparator);
  const std::string scheme = url.substr(0, schemeEnd);
  std::string authority = url.substr(schemeEnd + kSchemeSeparator.size());
  authority = authority.substr(0, authority.find('/'));
  const size_t at = authority.rfind('@');
  if (at != std::string::npos) authority.erase(0, at + 1);
  return EqualsNoCase(scheme, "http") ? authority : scheme + "://" + authority;
}

// The environment's proxy for a location of the given kind; empty when there is none.
std::string EnvironmentProxyFor(const EnvironmentProxies& env, bool secure) {
  const std::string* first = secure ? &env.https : &env.http;
  const std::string* second = secure ? &env.http : &env.https;
  for (const std::string* proxy : {first, second, &env.all}) {
    if (!proxy->empty()) return WithScheme(*proxy);
  }
  return std::string();
}

// The store's proxy in curl form when the record is meant for transfers of this kind; empty
// otherwise. An HTTP record is the proxy list "http=http://server:port", which serves "http:"
// locations only; a SOCKS proxy serves both kinds.
std::string StoreProxyUrl(const ProxySettings& settings, bool secure) {
  if (!settings.useForWinInet || settings.server.empty()) return std::string();
  const char* scheme = nullptr;
  switch (settings.protocol) {
    case ProxyProtocol::Http:
      if (secure) return std::string();
      scheme = "http://";
      break;
    case ProxyProtocol::Socks4:
      scheme = settings.resolveRemote ? "socks4a://" : "socks4://";
      break;
    case ProxyProtocol::Socks5:
      scheme = settings.resolveRemote ? "socks5h://" : "socks5://";
      break;
    case ProxyProtocol::None:
      return std::string();
  }
  const bool ipv6 = settings.server.find(':') != std::string::npos && settings.server[0] != '[';
  std::string url = scheme + (ipv6 ? "[" + settings.server + "]" : settings.server);
  if (settings.port != 0) url += ":" + std::to_string(settings.port);
  return url;
}

SessionProxy Choose(const ProxySettings& settings, const EnvironmentProxies& env, bool secure) {
  SessionProxy session;
  const std::string storeProxy = StoreProxyUrl(settings, secure);
  if (!storeProxy.empty()) {
    session.access = SessionProxy::Access::Explicit;
    session.proxyUrl = storeProxy;
  } else if (std::string proxy = EnvironmentProxyFor(env, secure); !proxy.empty()) {
    session.access = SessionProxy::Access::Explicit;
    session.proxyUrl = std::move(proxy);
    session.bypassList = env.noProxy;
  }
  if (settings.authenticate) {
    session.user = settings.username;
    session.password = settings.password;
  }
  return session;
}

// When a hive file was last written; a change of the store shows there (to the file system's
// time granularity, which is why cached answers also expire).
int64_t ModificationStamp(const std::string& path) {
  std::error_code error;
  const auto time = std::filesystem::last_write_time(path, error);
  return error ? 0 : static_cast<int64_t>(time.time_since_epoch().count());
}

// What a cached answer was made for: the store's identity, the sandbox, the hives' last
// writes and the environment.
struct CacheKey {
  std::string providerId, userName;
  uint32_t userHive = 0;
  std::string root, processUser;
  int64_t machineHiveStamp = 0, userHiveStamp = 0;
  EnvironmentProxies env;
  bool secure = false;
  bool operator==(const CacheKey&) const = default;
};

CacheKey CurrentCacheKey(bool secure) {
  const provider_store::ProviderStoreIdentity identity =
      provider_store::CurrentProviderStoreIdentity();
  return {identity.providerId.c_str(),
          identity.userName.c_str(),
          identity.userHive,
          Variable("NOLT_ROOT"),
          Variable("NOLT_USER"),
          ModificationStamp(platform::MachineHivePath()),
          ModificationStamp(platform::UserHivePath()),
          ReadEnvironmentProxies(),
          secure};
}

struct CachedProxy {
  CacheKey key;
  uint64_t monotonicMs = 0;
  uint64_t fileTime = 0;
  SessionProxy session;
};

std::mutex gCacheMutex;
std::array<std::optional<CachedProxy>, 2> gCache;  // by `secure`

// Whether `now` lies in [stamp, stamp + span).
bool Within(uint64_t now, uint64_t stamp, uint64_t span) {
  return now >= stamp && now - stamp < span;
}

}  // namespace

ProxyProtocol ProxyProtocolFromText(std::string_view text) {
  if (EqualsNoCase(text, "SOCKS4")) return ProxyProtocol::Socks4;
  if (EqualsNoCase(text, "SOCKS5")) return ProxyProtocol::Socks5;
  if (EqualsNoCase(text, "HTTP") || EqualsNoCase(text, "HTTPTUNNEL")) return ProxyProtocol::Http;
  return ProxyProtocol::None;
}

ProxySettings ReadProxySettings() {
  ProxySettings settings;
  settings.fromTemp = TempRecordInForce();
  const char* key = settings.fromTemp ? kProxyTempKey : kProxyKey;
  settings.protocol = ProxyProtocolFromText(Text(key, "Protocol"));
  settings.server = Text(key, "Server");
  settings.port = Number(key, "Port");
  settings.authenticate = Flag(key, "Authenticate");
  settings.username = Text(key, "Username");
  // "Password" is a protected value; one stored in clear before protection existed reads as is.
  settings.password = secrets::RevealStoredSecret(
      Text(key, "Password"), secrets::HiveScope(provider_store::PerUserHive()));
  settings.timestamp = HxTime(Text(key, "Timestamp").c_str());
  settings.duration = Number(key, "Duration");
  settings.resolveRemote = Flag(key, "ResolveRemote");
  settings.showDialogOnFailure = Flag(key, "ShowDialogOnFailure");
  settings.probeOnFailure = Flag(key, "ProbeOnFailure");
  settings.useForWinInet = Flag(key, "UseForWinINet");
  return settings;
}

SessionProxy ChooseSessionProxy(const ProxySettings& settings, bool secure) {
  return Choose(settings, ReadEnvironmentProxies(), secure);
}

SessionProxy ReadSessionProxy() { return ReadSessionProxy(false); }

SessionProxy ReadSessionProxy(bool secure) {
  CacheKey key = CurrentCacheKey(secure);
  platform::Clock& clock = platform::CurrentClock();
  const uint64_t monotonicMs = clock.MonotonicMs();
  const uint64_t fileTime = clock.FileTimeNow();
  std::optional<CachedProxy>& slot = gCache[secure ? 1 : 0];
  {
    std::lock_guard<std::mutex> lock(gCacheMutex);
    if (slot && slot->key == key && Within(monotonicMs, slot->monotonicMs, kProxyCacheMs) &&
        Within(fileTime, slot->fileTime, kProxyCacheMs * kFileTimeUnitsPerMs)) {
      return slot->session;
    }
  }
  SessionProxy session = Choose(ReadProxySettings(), key.env, secure);
  std::lock_guard<std::mutex> lock(gCacheMutex);
  slot = CachedProxy{std::move(key), monotonicMs, fileTime, session};
  return session;
}

void ForgetCachedSessionProxy() {
  std::lock_guard<std::mutex> lock(gCacheMutex);
  for (auto& slot : gCache) slot.reset();
}

bool SystemProxyFallback(std::string& serverList, std::string& bypassList) {
  const EnvironmentProxies env = ReadEnvironmentProxies();
  serverList.clear();
  for (const std::string* proxy : {&env.http, &env.https, &env.all}) {
    if (proxy->empty()) continue;
    const std::string entry = ServerListEntry(*proxy);
    if ((";" + serverList + ";").find(";" + entry + ";") != std::string::npos) continue;
    if (!serverList.empty()) serverList += ';';
    serverList += entry;
  }
  bypassList = serverList.empty() ? std::string() : env.noProxy;
  return !serverList.empty();
}
