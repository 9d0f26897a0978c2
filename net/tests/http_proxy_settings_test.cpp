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
using net_test::StoreProxyCredentials;
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
  EXPECT_EQ(ProxyProtocolFromText("SOCKS4"), ProxyProtocol::Socks4);
  EXPECT_EQ(ProxyProtocolFromText("socks5"), ProxyProtocol::Socks5);
  EXPECT_EQ(ProxyProtocolFromText("Http"), ProxyProtocol::Http);
  EXPECT_EQ(ProxyProtocolFromText("httpTunnel"), ProxyProtocol::Http);
  EXPECT_EQ(ProxyProtocolFromText("HTTPS"), ProxyProtocol::None);
  EXPECT_EQ(ProxyProtocolFromText("SOCKS"), ProxyProtocol::None);
  EXPECT_EQ(ProxyProtocolFromText(""), ProxyProtocol::None);

  StoreProxyText(kProxyKey, "Protocol", "sOcKs4");
  EXPECT_EQ(ReadProxySettings().protocol, ProxyProtocol::Socks4);
}

TEST_F(ProxySettingsTest, MissingValuesStayEmptyAndEveryValueIsRead) {
  ProxySettings empty = ReadProxySettings();
  EXPECT_EQ(empty.protocol, ProxyProtocol::None);
  EXPECT_TRUE(empty.server.empty());
  EXPECT_EQ(empty.port, 0u);
  EXPECT_FALSE(empty.authenticate || empty.useForWinInet || empty.resolveRemote ||
               empty.showDialogOnFailure || empty.probeOnFailure || empty.fromTemp);
  EXPECT_TRUE(empty.timestamp.IsZero());
  EXPECT_EQ(ReadSessionProxy().access, Access::Direct);

  StoreTransferProxy(kProxyKey, "HTTP", "proxy.corp", 8080);
  StoreProxyCredentials(kProxyKey, "ann", "pw");
  StoreProxyText(kProxyKey, "ResolveRemote", "1");  // any non-zero first byte is true
  StoreProxyNumber(kProxyKey, "ShowDialogOnFailure", 0);
  StoreProxyNumber(kProxyKey, "ProbeOnFailure", 1);
  StoreProxyNumber(kProxyKey, "Duration", 30);
  const ProxySettings full = ReadProxySettings();
  EXPECT_EQ(full.server, "proxy.corp");
  EXPECT_EQ(full.port, 8080u);
  EXPECT_TRUE(full.authenticate && full.useForWinInet && full.resolveRemote && full.probeOnFailure);
  EXPECT_FALSE(full.showDialogOnFailure);
  EXPECT_EQ(full.username, "ann");
  EXPECT_EQ(full.password, "pw");
  EXPECT_EQ(full.duration, 30u);
  EXPECT_FALSE(full.fromTemp);
}

TEST_F(ProxySettingsTest, TempRecordIsInForceUntilItsDurationRunsOut) {
  StoreTransferProxy(kProxyKey, "HTTP", "main", 1);
  StoreTransferProxy(kProxyTempKey, "HTTP", "temp", 2);
  StoreProxyText(kProxyTempKey, "Timestamp", HxTime::Now().ToHex().c_str());
  StoreProxyNumber(kProxyTempKey, "Duration", 10);

  ProxySettings settings = ReadProxySettings();
  EXPECT_TRUE(settings.fromTemp);
  EXPECT_EQ(settings.server, "temp");
  EXPECT_EQ(settings.duration, 10u);
  EXPECT_FALSE(settings.timestamp.IsZero());
  clock_.Advance(10 * 60 * 1000 - 1);  // 9 whole minutes old
  EXPECT_EQ(ReadProxySettings().server, "temp");
  clock_.Advance(1);
  settings = ReadProxySettings();
  EXPECT_FALSE(settings.fromTemp);
  EXPECT_EQ(settings.server, "main");
  EXPECT_EQ(ChooseSessionProxy(settings, false).proxyUrl, "http://main:1");
}

TEST_F(ProxySettingsTest, TempRecordWithoutUsableTimestampIsIgnored) {
  StoreTransferProxy(kProxyKey, "HTTP", "main", 1);
  StoreTransferProxy(kProxyTempKey, "HTTP", "temp", 2);
  StoreProxyNumber(kProxyTempKey, "Duration", 10);
  EXPECT_EQ(ReadProxySettings().server, "main");  // no timestamp
  StoreProxyText(kProxyTempKey, "Timestamp", "not hex");
  EXPECT_EQ(ReadProxySettings().server, "main");
  StoreProxyText(kProxyTempKey, "Timestamp", HxTime::Now().ToHex().c_str());
  StoreProxyNumber(kProxyTempKey, "Duration", 0);  // zero minutes: never in force
  EXPECT_EQ(ReadProxySettings().server, "main");
}

TEST_F(ProxySettingsTest, EnvironmentProxyWithItsBypassList) {
  environment_.Set("HTTP_PROXY", "envproxy:3128");
  environment_.Set("no_proxy", "localhost,.corp");
  SessionProxy session = ChooseSessionProxy(ProxySettings{}, false);
  EXPECT_EQ(session.access, Access::Explicit);
  EXPECT_EQ(session.proxyUrl, "http://envproxy:3128");
  EXPECT_EQ(session.bypassList, "localhost,.corp");

  // The lower-case variable wins; a secure location prefers https_proxy.
  environment_.Set("http_proxy", "http://lower:1");
  environment_.Set("https_proxy", "socks5h://secure:2");
  EXPECT_EQ(ChooseSessionProxy(ProxySettings{}, false).proxyUrl, "http://lower:1");
  EXPECT_EQ(ChooseSessionProxy(ProxySettings{}, true).proxyUrl, "socks5h://secure:2");

  // A store record not meant for transfers leaves the environment in charge.
  ProxySettings notForTransfers;
  notForTransfers.protocol = ProxyProtocol::Http;
  notForTransfers.server = "store";
  notForTransfers.port = 80;
  EXPECT_EQ(ChooseSessionProxy(notForTransfers, false).proxyUrl, "http://lower:1");
}

TEST_F(ProxySettingsTest, FallbackListsEachEnvironmentProxyOnceWithoutCredentials) {
  std::string servers = "stale", bypass = "stale";
  EXPECT_FALSE(SystemProxyFallback(servers, bypass));
  EXPECT_EQ(servers, "");
  EXPECT_EQ(bypass, "");

  environment_.Set("http_proxy", "http://user:secret@px:8080/");
  environment_.Set("HTTPS_PROXY", "px:8080");
  environment_.Set("all_proxy", "socks5://sx:1080");
  environment_.Set("NO_PROXY", "127.0.0.1");
  ASSERT_TRUE(SystemProxyFallback(servers, bypass));
  EXPECT_EQ(servers, "px:8080;socks5://sx:1080");
  EXPECT_EQ(bypass, "127.0.0.1");
}

TEST_F(ProxySettingsTest, StoreProxyForTransfersInEachProtocol) {
  environment_.Set("http_proxy", "envproxy:3128");
  environment_.Set("no_proxy", "localhost");
  ProxySettings settings;
  settings.useForWinInet = true;
  settings.protocol = ProxyProtocol::Http;
  settings.server = "10.0.0.1";
  settings.port = 8080;
  SessionProxy session = ChooseSessionProxy(settings, false);
  EXPECT_EQ(session.access, Access::Explicit);
  EXPECT_EQ(session.proxyUrl, "http://10.0.0.1:8080");
  EXPECT_EQ(session.bypassList, "");
  EXPECT_EQ(session.user, "");

  settings.protocol = ProxyProtocol::Socks5;
  EXPECT_EQ(ChooseSessionProxy(settings, false).proxyUrl, "socks5://10.0.0.1:8080");
  settings.resolveRemote = true;
  EXPECT_EQ(ChooseSessionProxy(settings, false).proxyUrl, "socks5h://10.0.0.1:8080");
  settings.protocol = ProxyProtocol::Socks4;
  EXPECT_EQ(ChooseSessionProxy(settings, false).proxyUrl, "socks4a://10.0.0.1:8080");
  settings.resolveRemote = false;
  EXPECT_EQ(ChooseSessionProxy(settings, false).proxyUrl, "socks4://10.0.0.1:8080");
  settings.server = "fd00::1";
  EXPECT_EQ(ChooseSessionProxy(settings, false).proxyUrl, "socks4://[fd00::1]:8080");

  // Credentials go with "Authenticate", whichever proxy is used.
  settings.protocol = ProxyProtocol::None;
  settings.username = "ann";
  settings.password = "pw";
  EXPECT_EQ(ChooseSessionProxy(settings, false).user, "");
  settings.authenticate = true;
  session = ChooseSessionProxy(settings, false);
  EXPECT_EQ(session.proxyUrl, "http://envproxy:3128");
  EXPECT_EQ(session.user, "ann");
  EXPECT_EQ(session.password, "pw");
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
