// Transfers through a forward proxy: credentials from the user's proxy record answer the
// proxy's challenge, wrong ones end the transfer with the proxy's refusal, and a dead path falls
// back to the environment's proxy.
#include <filesystem>

#include "http_object_fixture.h"
#include "loopback_sockets.h"
#include "stored_proxy.h"
#include "tinyproxy_process.h"

namespace {

using net_test::StoreTransferProxy;

class HttpProxyTest : public HttpObjectTest {
 protected:
  // Makes the proxy at `port` the transfers' proxy, with alice's credentials.
  static void StoreProxy(int port, const std::string& password) {
    StoreTransferProxy(kProxyKey, "HTTP", "127.0.0.1", static_cast<uint32_t>(port));
    net_test::StoreProxyCredentials(kProxyKey, "alice", password);
  }
};

// Through tinyproxy, which lets alice through with her password and turns wrong credentials
// away with 401 (a missing one gets 407).
TEST_F(HttpProxyTest, StoredCredentialsAnswerTheProxyChallenge) {
  net_test::TinyproxyProcess proxy("alice", "s3cret");
  ASSERT_TRUE(proxy.Running());
  server_.Serve("/f", {{200, "through the proxy"}});
  for (const char* password : {"s3cret", "wrong"}) {
    const bool right = password == std::string("s3cret");
    StoreProxy(proxy.Port(), password);
    ForgetCachedSessionProxy();
    auto object = Object(server_, "/f");
    const size_t before = SharedErrorCount();
    EXPECT_EQ(object->GetFile(File(password)), right) << proxy.Log();
    EXPECT_EQ(object->GetStatus(), right ? 200 : 401);
    if (!right) {
      EXPECT_EQ(NewSharedError(before), GetFileError("/f", File(password), ServerName(server_),
                                                     "Failed with error code 401"));
    }
    EXPECT_EQ(std::filesystem::exists(File(password)), right);
  }
  EXPECT_EQ(proxy.RequestCount(), 4u);  // each challenged once, then answered
  const auto requests = server_.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_NE(requests[0].Header("Via"), "");  // tinyproxy marks what it forwards
}

TEST_F(HttpProxyTest, ProxyRefusingTheStoredCredentialsEndsWith407) {
  // The test server plays a proxy that challenges every request, as most proxies answer
  // wrong credentials.
  const std::string origin = "origin.invalid:81";
  server_.Serve("http://" + origin + "/f",
                {{407, "denied", {{"Proxy-Authenticate", "Basic realm=\"proxy\""}}}});
  StoreProxy(server_.Port(), "wrong");

  auto object = Object("http://" + origin + "/f");
  const size_t before = SharedErrorCount();
  EXPECT_FALSE(object->GetFile(File("out")));
  EXPECT_EQ(object->GetStatus(), 407);
  EXPECT_EQ(NewSharedError(before),
            GetFileError("/f", File("out"), origin, "Failed with error code 407"));
  const auto requests = server_.Requests();
  ASSERT_EQ(requests.size(), 2u);  // challenged, answered once, refused again
  EXPECT_EQ(requests[0].Header("Proxy-Authorization"), "");
  EXPECT_EQ(requests[1].Header("Proxy-Authorization"), "Basic YWxpY2U6d3Jvbmc=");
}

// The proxy passes every request on to the test server, which answers for a port that refuses
// connections: reachable through the proxy only. The dead port stays held, so no other server
// can take it.
class HttpProxyFallbackTest : public HttpProxyTest {
 protected:
  HttpProxyFallbackTest() { server_.Serve(location_, {{200, "via the fallback"}}); }
  // The fallback record for the environment's proxy and bypass list.
  static std::string FallbackText(const std::string& servers, const std::string& bypass) {
    return HttpError(
        "Failed to connect due to possibly incorrect IE settings. Setting ProxyServer =  '" +
        servers + "' with ProxyBypassList = '" + bypass + "' for WinInet flow");
  }

  net_test::DeadPort dead_;
  std::string location_ = dead_.Url("/f");
  net_test::TinyproxyProcess proxy_{"", "", "127.0.0.1:" + std::to_string(server_.Port())};
};

TEST_F(HttpProxyFallbackTest, DeadDirectPathFallsBackToTheEnvironmentProxy) {
  ASSERT_TRUE(proxy_.Running());
  auto object = Object(location_);
  ASSERT_TRUE(object->Connect());  // no proxy yet: the session goes direct
  noEnvironmentProxy_.Set("http_proxy", proxy_.Url());
  noEnvironmentProxy_.Set("no_proxy", "example.invalid");

  const size_t before = SharedErrorCount();
  ASSERT_TRUE(object->GetFile(File("out"))) << proxy_.Log();
  EXPECT_EQ(Read(File("out")), "via the fallback");
  EXPECT_EQ(NewSharedError(before), FallbackText(proxy_.HostPort(), "example.invalid"));
  EXPECT_EQ(proxy_.RequestCount(), 1u);
}

TEST_F(HttpProxyFallbackTest, DeadStoredProxyFallsBackToTheEnvironmentProxy) {
  ASSERT_TRUE(proxy_.Running());
  StoreTransferProxy(kProxyKey, "HTTP", "127.0.0.1", static_cast<uint32_t>(dead_.Port()));
  noEnvironmentProxy_.Set("HTTP_PROXY", proxy_.HostPort());

  auto object = Object(location_);
  const size_t before = SharedErrorCount();
  ASSERT_TRUE(object->GetFile(File("out"))) << proxy_.Log();
  EXPECT_EQ(Read(File("out")), "via the fallback");
  EXPECT_EQ(NewSharedError(before), FallbackText(proxy_.HostPort(), ""));
}

}  // namespace
