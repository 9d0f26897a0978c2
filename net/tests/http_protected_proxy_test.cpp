// A proxy password kept as a protected value reaches the proxy, for a user and for the system
// account, whose per-user keys live in the machine hive.
#include "foundation/secrets/protected_value.h"
#include "http_object_fixture.h"
#include "scoped_proxy_environment.h"
#include "stored_proxy.h"
#include "tinyproxy_process.h"

namespace {

class HttpProtectedProxyTest : public HttpObjectTest {
 protected:
  net_test::ScopedProxyEnvironment environment_;
  net_test::TinyproxyProcess proxy_{"alice", "s3cret"};
};

TEST_F(HttpProtectedProxyTest, AProtectedPasswordAnswersTheProxyChallenge) {
  ASSERT_TRUE(proxy_.Running());
  server_.Serve("/f", {{200, "through the proxy"}});
  for (const auto& [user, scope] : {std::pair{"tester", secrets::SecretScope::kUser},
                                    std::pair{"SYSTEM", secrets::SecretScope::kMachine}}) {
    platform::testing::SetEnvironment("NOLT_USER", user);
    ForgetCachedSessionProxy();
    std::string stored;
    ASSERT_EQ(secrets::Protect(scope, "s3cret", stored), secrets::SecretStatus::kOk);
    net_test::StoreTransferProxy(kProxyKey, "HTTP", "127.0.0.1",
                                 static_cast<uint32_t>(proxy_.Port()));
    net_test::StoreProxyCredentials(kProxyKey, "alice", stored);

    auto object = Object(server_, "/f");
    ASSERT_TRUE(object);
    ASSERT_TRUE(object->GetFile(File(user))) << user << "\n" << proxy_.Log();
    EXPECT_EQ(Read(File(user)), "through the proxy");
    object.reset();
    DropPooledConnections();  // the next user makes a connection of its own
  }
  EXPECT_EQ(server_.Requests().size(), 2u);
}

}  // namespace
