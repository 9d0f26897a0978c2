// The user's proxy record in the store and the session proxy chosen from it and the environment.
#include <gtest/gtest.h>

#include "foundation/tests/registry_store_identity.h"
#include "net/http/proxy_settings.h"
#include "platform/clock.h"
#include "scoped_proxy_environment.h"
#include "scoped_sandbox.h"
#include "stored_proxy.h"

namespace {

using Access = SessionProxy::Access;
using net_test::StoreProxyNumber;
using net_test::StoreProxyText;
using net_test::StoreTransferProxy;

class ProxySettingsTest : public ::testing::Test {
 protected:
  ProxySettingsTest() { platform::InstallClock(&clock_); }
  ~ProxySettingsTest() override { platform::InstallClock(nullptr); }

  platform::testing::ScopedSandbox sandbox_;
  ScopedStoreIdentity identity_{"prov", "tester"};
  net_test::ScopedProxyEnvironment environment_;
  platform::DrivenClock clock_;
};

TEST_F(ProxySettingsTest, ProtocolTextsInAnyCase) {
  const std::pair<const char*, ProxyProtocol> kCases[] = {
      {"SOCKS4", ProxyProtocol::Socks4}, {"socks5", ProxyProtocol::Socks5},
      {"Http", ProxyProtocol::Http},     {"httpTunnel", ProxyProtocol::Http},
      {"HTTPS", ProxyProtocol::None},    {"SOCKS", ProxyProtocol::None},
      {"", ProxyProtocol::None}};
  for (const auto& [text, protocol] : kCases) EXPECT_EQ(ProxyProtocolFromText(text), protocol);
}

TEST_F(ProxySettingsTest, EveryValueIsRead) {
  StoreTransferProxy(kProxyKey, "sOcKs4", "proxy.corp", 8080);
  net_test::StoreProxyCredentials(kProxyKey, "ann", "pw");
  StoreProxyText(kProxyKey, "ResolveRemote", "1");  // any non-zero first byte is true
  StoreProxyNumber(kProxyKey, "ShowDialogOnFailure", 0);
  StoreProxyNumber(kProxyKey, "ProbeOnFailure", 1);
  StoreProxyNumber(kProxyKey, "Duration", 30);
  const ProxySettings full = ReadProxySettings();
  EXPECT_EQ(full.protocol, ProxyProtocol::Socks4);
  EXPECT_EQ(full.server + ":" + std::to_string(full.port), "proxy.corp:8080");
  EXPECT_TRUE(full.authenticate && full.useForWinInet && full.resolveRemote && full.probeOnFailure);
  EXPECT_FALSE(full.showDialogOnFailure || full.fromTemp);
  EXPECT_EQ(full.username + ":" + full.password, "ann:pw");
  EXPECT_EQ(full.duration, 30u);
}

TEST_F(ProxySettingsTest, TempRecordIsInForceWhileItsTimestampIsYoungerThanItsDuration) {
  StoreTransferProxy(kProxyKey, "HTTP", "main", 1);
  StoreTransferProxy(kProxyTempKey, "HTTP", "temp", 2);
  StoreProxyNumber(kProxyTempKey, "Duration", 10);
  EXPECT_EQ(ReadProxySettings().server, "main");  // no timestamp
  StoreProxyText(kProxyTempKey, "Timestamp", "not hex");
  EXPECT_EQ(ReadProxySettings().server, "main");
  StoreProxyText(kProxyTempKey, "Timestamp", HxTime::Now().ToHex().c_str());
  const ProxySettings temp = ReadProxySettings();
  EXPECT_TRUE(temp.fromTemp);
  EXPECT_EQ(temp.server, "temp");
  EXPECT_FALSE(temp.timestamp.IsZero());
  clock_.Advance(10 * 60 * 1000 - 1);  // 9 whole minutes old
  EXPECT_EQ(ReadProxySettings().server, "temp");
  clock_.Advance(1);
  EXPECT_FALSE(ReadProxySettings().fromTemp);
  StoreProxyText(kProxyTempKey, "Timestamp", HxTime::Now().ToHex().c_str());
  StoreProxyNumber(kProxyTempKey, "Duration", 0);  // zero minutes: never in force
  EXPECT_EQ(ReadProxySettings().server, "main");
}

TEST_F(ProxySettingsTest, TheStoreRecordServesItsKindsAndTheEnvironmentTheRest) {
  environment_.Set("HTTP_PROXY", "envproxy:3128");
  environment_.Set("no_proxy", "localhost,.corp");
  const struct {
    const char* protocol;
    bool forTransfers, resolveRemote, secure;
    const char* server;
    std::string proxy, bypass;
  } kCases[] = {
      {"HTTP", true, false, false, "10.0.0.1", "http://10.0.0.1:8080", ""},
      // The record's list "http=..." names a proxy for "http:" locations only.
      {"HTTP", true, false, true, "10.0.0.1", "http://envproxy:3128", "localhost,.corp"},
      {"HTTP", false, false, false, "10.0.0.1", "http://envproxy:3128", "localhost,.corp"},
      {"SOCKS5", true, false, true, "10.0.0.1", "socks5://10.0.0.1:8080", ""},
      {"SOCKS5", true, true, false, "10.0.0.1", "socks5h://10.0.0.1:8080", ""},
      {"SOCKS4", true, true, false, "10.0.0.1", "socks4a://10.0.0.1:8080", ""},
      {"SOCKS4", true, false, true, "fd00::1", "socks4://[fd00::1]:8080", ""},
      {"none", true, false, false, "10.0.0.1", "http://envproxy:3128", "localhost,.corp"},
  };
  for (const auto& c : kCases) {
    ProxySettings settings;
    settings.protocol = ProxyProtocolFromText(c.protocol);
    settings.useForWinInet = c.forTransfers;
    settings.resolveRemote = c.resolveRemote;
    settings.server = c.server;
    settings.port = 8080;
    const SessionProxy session = ChooseSessionProxy(settings, c.secure);
    EXPECT_EQ(session.access, Access::Explicit);
    EXPECT_EQ(session.proxyUrl + " " + session.bypassList, c.proxy + " " + c.bypass)
        << c.protocol << (c.secure ? " https" : " http");
  }
  // The lower-case variable wins; a secure location prefers https_proxy.
  environment_.Set("http_proxy", "http://lower:1");
  environment_.Set("https_proxy", "socks5h://secure:2");
  EXPECT_EQ(ChooseSessionProxy(ProxySettings{}, false).proxyUrl, "http://lower:1");
  EXPECT_EQ(ChooseSessionProxy(ProxySettings{}, true).proxyUrl, "socks5h://secure:2");
  // Credentials go with "Authenticate", whichever proxy is used.
  ProxySettings credentials;
  credentials.username = "ann";
  credentials.password = "pw";
  EXPECT_EQ(ChooseSessionProxy(credentials, false).user, "");
  credentials.authenticate = true;
  const SessionProxy session = ChooseSessionProxy(credentials, false);
  EXPECT_EQ(session.user + ":" + session.password, "ann:pw");
}

TEST_F(ProxySettingsTest, FallbackListsEachEnvironmentProxyOnceWithoutCredentials) {
  std::string servers = "stale", bypass = "stale";
  EXPECT_FALSE(SystemProxyFallback(servers, bypass));
  EXPECT_EQ(servers + bypass, "");

  environment_.Set("http_proxy", "http://user:secret@px:8080/");
  environment_.Set("HTTPS_PROXY", "px:8080");
  environment_.Set("all_proxy", "socks5://sx:1080");
  environment_.Set("NO_PROXY", "127.0.0.1");
  ASSERT_TRUE(SystemProxyFallback(servers, bypass));
  EXPECT_EQ(servers, "px:8080;socks5://sx:1080");
  EXPECT_EQ(bypass, "127.0.0.1");
}

TEST_F(ProxySettingsTest, CachedSessionProxyFollowsStoreEnvironmentAndIdentity) {
  EXPECT_EQ(ReadSessionProxy().access, Access::Direct);
  StoreTransferProxy(kProxyKey, "SOCKS5", "sx", 1080);
  StoreProxyNumber(kProxyKey, "ResolveRemote", 1);
  clock_.Advance(kProxyCacheMs);
  EXPECT_EQ(ReadSessionProxy().proxyUrl, "socks5h://sx:1080");

  StoreProxyText(kProxyKey, "Server", "sy");
  ForgetCachedSessionProxy();
  EXPECT_EQ(ReadSessionProxy().proxyUrl, "socks5h://sy:1080");

  // Another user of the same sandbox has no proxy record; the environment is seen at once.
  ScopedStoreIdentity::Current().userName = "other";
  EXPECT_EQ(ReadSessionProxy().access, Access::Direct);
  environment_.Set("http_proxy", "envproxy:3128");
  EXPECT_EQ(ReadSessionProxy().proxyUrl, "http://envproxy:3128");
  EXPECT_EQ(ReadSessionProxy(true).proxyUrl, "http://envproxy:3128");
}

}  // namespace
