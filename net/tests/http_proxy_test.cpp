// Transfers through a forward proxy: credentials from the user's proxy record answer the
// proxy's challenge, wrong ones end the transfer with the proxy's refusal, and a dead path falls
// back to the environment's proxy.
#include <filesystem>

#include "http_object_fixture.h"
#include "platform/network.h"
#include "scoped_proxy_environment.h"
#include "stored_proxy.h"
#include "tinyproxy_process.h"

namespace {

using net_test::StoreProxyCredentials;
using net_test::StoreTransferProxy;

class HttpProxyTest : public HttpObjectTest {
 protected:
  // The failure text of a GetFile of `path` on `server` into `target`.
  static std::string GetFileFailure(const std::string& path, const std::string& target,
                                    const std::string& server, int status) {
    return HttpError("GetFile '" + path + "' -> '" + target + "' from server '" + server +
                     "', Failed with error code " + std::to_string(status));
  }

  // Makes the proxy at `port` the transfers' proxy, with alice's credentials.
  static void StoreProxy(int port, const std::string& password) {
    StoreTransferProxy(kProxyKey, "HTTP", "127.0.0.1", static_cast<uint32_t>(port));
    StoreProxyCredentials(kProxyKey, "alice", password);
  }

  net_test::ScopedProxyEnvironment environment_;
};

// Through tinyproxy, which lets alice through with her password.
class HttpTinyproxyTest : public HttpProxyTest {
 protected:
  net_test::TinyproxyProcess proxy_{"alice", "s3cret"};
};

TEST_F(HttpTinyproxyTest, StoredCredentialsAnswerTheProxyChallenge) {
  ASSERT_TRUE(proxy_.Running());
  StoreProxy(proxy_.Port(), "s3cret");
  server_.Serve("/f", {{200, "through the proxy"}});

  auto object = Object(server_, "/f");
  ASSERT_TRUE(object);
  ASSERT_TRUE(object->GetFile(File("out"))) << proxy_.Log();
  EXPECT_EQ(object->GetStatus(), 200);
  EXPECT_EQ(Read(File("out")), "through the proxy");
  EXPECT_EQ(proxy_.RequestCount(), 2u);  // challenged once, then let through
  const auto requests = server_.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_NE(requests[0].Header("Via"), "");  // tinyproxy marks what it forwards
}

TEST_F(HttpTinyproxyTest, WrongProxyCredentialsFailWithTheProxysStatus) {
  ASSERT_TRUE(proxy_.Running());
  StoreProxy(proxy_.Port(), "wrong");
  server_.Serve("/f", {{200, "never"}});

  auto object = Object(server_, "/f");
  ASSERT_TRUE(object);
  const size_t before = SharedErrorCount();
  EXPECT_FALSE(object->GetFile(File("out")));
  // tinyproxy turns wrong credentials away with 401 (a missing one gets 407).
  EXPECT_EQ(object->GetStatus(), 401);
  EXPECT_EQ(NewSharedError(before), GetFileFailure("/f", File("out"), ServerName(server_), 401));
  EXPECT_FALSE(std::filesystem::exists(File("out")));
  EXPECT_TRUE(server_.Requests().empty());
}

TEST_F(HttpProxyTest, ProxyRefusingTheStoredCredentialsEndsWith407) {
  // The test server plays a proxy that challenges every request, as most proxies answer
  // wrong credentials.
  const std::string origin = "127.0.0.1:" + std::to_string(platform::FreeLoopbackTcpPort());
  server_.Serve("http://" + origin + "/f",
                {{407, "denied", {{"Proxy-Authenticate", "Basic realm=\"proxy\""}}}});
  StoreProxy(server_.Port(), "wrong");

  auto object = Object("http://" + origin + "/f");
  ASSERT_TRUE(object);
  const size_t before = SharedErrorCount();
  EXPECT_FALSE(object->GetFile(File("out")));
  EXPECT_EQ(object->GetStatus(), 407);
  EXPECT_EQ(NewSharedError(before), GetFileFailure("/f", File("out"), origin, 407));
  const auto requests = server_.Requests();
  ASSERT_EQ(requests.size(), 2u);  // challenged, answered once, refused again
  EXPECT_EQ(requests[0].Header("Proxy-Authorization"), "");
  EXPECT_EQ(requests[1].Header("Proxy-Authorization"), "Basic YWxpY2U6d3Jvbmc=");
}

// The proxy passes every request on to the test server, which answers for a port where nothing
// listens: reachable through the proxy only.
class HttpProxyFallbackTest : public HttpProxyTest {
 protected:
  HttpProxyFallbackTest() : deadPort_(platform::FreeLoopbackTcpPort()) {
    location_ = "http://127.0.0.1:" + std::to_string(deadPort_) + "/f";
    server_.Serve(location_, {{200, "via the fallback"}});
  }
  // The fallback record for the environment's proxy and bypass list.
  static std::string FallbackText(const std::string& servers, const std::string& bypass) {
    return HttpError(
        "Failed to connect due to possibly incorrect IE settings. Setting ProxyServer =  '" +
        servers + "' with ProxyBypassList = '" + bypass + "' for WinInet flow");
  }

  int deadPort_;
  std::string location_;
  net_test::TinyproxyProcess proxy_{"", "", "127.0.0.1:" + std::to_string(server_.Port())};
};

TEST_F(HttpProxyFallbackTest, DeadDirectPathFallsBackToTheEnvironmentProxy) {
  ASSERT_TRUE(proxy_.Running());
  auto object = Object(location_);
  ASSERT_TRUE(object);
  ASSERT_TRUE(object->Connect());  // no proxy yet: the session goes direct
  environment_.Set("http_proxy", proxy_.Url());
  environment_.Set("no_proxy", "example.invalid");

  const size_t before = SharedErrorCount();
  ASSERT_TRUE(object->GetFile(File("out"))) << proxy_.Log();
  EXPECT_EQ(object->GetStatus(), 200);
  EXPECT_EQ(Read(File("out")), "via the fallback");
  EXPECT_EQ(NewSharedError(before), FallbackText(proxy_.HostPort(), "example.invalid"));
  EXPECT_EQ(proxy_.RequestCount(), 1u);
}

TEST_F(HttpProxyFallbackTest, DeadStoredProxyFallsBackToTheEnvironmentProxy) {
  ASSERT_TRUE(proxy_.Running());
  StoreTransferProxy(kProxyKey, "HTTP", "127.0.0.1", static_cast<uint32_t>(deadPort_));
  environment_.Set("HTTP_PROXY", proxy_.HostPort());

  auto object = Object(location_);
  ASSERT_TRUE(object);
  const size_t before = SharedErrorCount();
  ASSERT_TRUE(object->GetFile(File("out"))) << proxy_.Log();
  EXPECT_EQ(Read(File("out")), "via the fallback");
  EXPECT_EQ(NewSharedError(before), FallbackText(proxy_.HostPort(), ""));
}

}  // namespace
