// Proxy settings of HTTP transfers: the user's proxy record in the provider store ("General\Proxy",
// or "General\Proxy\Temp" while its time-limited override is in force), and the session proxy
// that a transfer opens its session with, in the form libcurl takes.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "foundation/time/hx_time.h"

// Values of "Protocol".
enum class ProxyProtocol : uint32_t { None = 0, Socks4 = 1, Socks5 = 2, Http = 3 };

// "SOCKS4" → Socks4, "SOCKS5" → Socks5, "HTTP" or "HTTPTUNNEL" → Http, anything else None;
// compared without regard to case.
ProxyProtocol ProxyProtocolFromText(std::string_view text);

// The store's proxy record. Missing values stay empty, zero or false.
struct ProxySettings {
  ProxyProtocol protocol = ProxyProtocol::None;
  std::string server;
  uint32_t port = 0;
  bool authenticate = false;
  std::string username;
  std::string password;
  HxTime timestamp;       // zero when absent or not a hex time text
  uint32_t duration = 0;  // minutes the Temp record stays in force
  bool resolveRemote = false;
  bool showDialogOnFailure = false;
  bool probeOnFailure = false;
  bool useForWinInet = false;
  bool fromTemp = false;  // read from "General\Proxy\Temp"
};

inline constexpr const char* kProxyKey = "General\\Proxy";
inline constexpr const char* kProxyTempKey = "General\\Proxy\\Temp";

// Reads the record straight from the per-user store (no cache).
ProxySettings ReadProxySettings();

struct SessionProxy {
  enum class Access { Preconfigured = 0, Direct = 1, Explicit = 3 };
  Access access = Access::Direct;
  std::string proxyUrl;        // curl form, "http://host:port", "socks5h://host:port"; empty: none
  std::string bypassList;      // curl CURLOPT_NOPROXY form; empty: none
  std::string user, password;  // proxy credentials from the store ("Authenticate"); may be empty
};

// The session proxy of a new transfer: the store's proxy when "UseForWinINet" is set with a
// server (an HTTP proxy for "http:" locations only, a SOCKS proxy for both), else the
// environment's proxy with its no_proxy list, else direct. Cached per process; a cached answer
// is used only for the same store identity, sandbox, environment and hive files' last writes,
// and for at most kProxyCacheMs of the platform clock.
SessionProxy ReadSessionProxy();
// The same, preferring https_proxy to http_proxy for a secure location.
SessionProxy ReadSessionProxy(bool secure);

// The same choice over a given record, without the store (no cache).
SessionProxy ChooseSessionProxy(const ProxySettings& settings, bool secure);

inline constexpr uint64_t kProxyCacheMs = 2000;
// Drops the cached answer, so that the next read goes to the store.
void ForgetCachedSessionProxy();

// The proxies of the environment (http_proxy, https_proxy, all_proxy, either case) as a list
// separated by ';' without duplicates; an HTTP proxy appears as "host:port", any other keeps its
// scheme ("socks5://host:port"); credentials are left out. bypassList := no_proxy. False when
// the environment names no proxy.
bool SystemProxyFallback(std::string& serverList, std::string& bypassList);
