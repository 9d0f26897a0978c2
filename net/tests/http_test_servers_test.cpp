// The test servers themselves: scripted answers, file serving, TLS and the proxy, checked with
// an independent client.
#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "http_test_server.h"
#include "scoped_sandbox.h"
#include "scratch_directory.h"
#include "tinyproxy_process.h"

namespace {

using net_test::Response;

class HttpTestServersTest : public ::testing::Test {
 protected:
  platform::testing::ScopedSandbox sandbox_;
};

TEST_F(HttpTestServersTest, ScriptedResponsesInOrderWithAuthAndBrokenBodies) {
  net_test::HttpTestServer server;
  ASSERT_TRUE(server.Listening());
  Response secret{200, "secret"};
  secret.requireBasicAuth = true;
  secret.user = "bob";
  secret.password = "pw";
  server.Serve("/a", {{503, "busy"}, {200, "one", {{"X-Tag", "t"}}}, secret});
  Response broken{200, std::string(10000, 'b')};
  broken.breakAfter = 100;
  server.Serve("/broken", {broken});

  httplib::Client client("127.0.0.1", server.Port());
  EXPECT_EQ(client.Get("/a")->status, 503);
  auto second = client.Get("/a?x=1&y=2");
  ASSERT_TRUE(second);
  EXPECT_EQ(second->body, "one");
  EXPECT_EQ(second->get_header_value("X-Tag"), "t");
  EXPECT_EQ(client.Get("/a")->status, 401);  // the guarded answer waits for credentials
  client.set_basic_auth("bob", "pw");
  EXPECT_EQ(client.Get("/a")->body, "secret");
  EXPECT_EQ(client.Get("/a")->body, "secret");  // the last answer repeats
  const std::string upload(60 * 1024, 'u');
  EXPECT_EQ(client.Put("/nowhere", upload, "application/octet-stream")->status, 404);
  EXPECT_FALSE(client.Get("/broken"));  // the client sees the body end early

  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 7u);
  EXPECT_EQ(requests[1].query, "x=1&y=2");
  EXPECT_EQ(requests[1].path, "/a");
  EXPECT_EQ(requests[3].Header("authorization"), "Basic Ym9iOnB3");
  EXPECT_EQ(requests[5].method, "PUT");
  EXPECT_EQ(requests[5].body, upload);
  EXPECT_GT(requests[0].remotePort, 0);
  EXPECT_GE(server.ConnectionCount(), 2u);  // the broken body closed the first connection
}

TEST_F(HttpTestServersTest, FilesAreStreamedWithLengthAndDateAndHeadHasNoBody) {
  net_test::ScratchDirectory scratch("tidesync-serve-");
  const std::string file = scratch.File("content.bin");
  std::string bytes(200000, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7);
  std::ofstream(file, std::ios::binary) << bytes;
  using namespace std::chrono;
  const sys_seconds modified = sys_days(year(2024) / 2 / 29) + hours(13) + seconds(5);
  std::filesystem::last_write_time(file, file_clock::from_sys(modified));

  net_test::HttpTestServer server;
  server.ServeFile("/f.bin", file);
  httplib::Client client("127.0.0.1", server.Port());
  auto got = client.Get("/f.bin");
  ASSERT_TRUE(got);
  EXPECT_EQ(got->body, bytes);
  EXPECT_EQ(got->get_header_value("Last-Modified"), "Thu, 29 Feb 2024 13:00:05 GMT");
  auto head = client.Head("/f.bin");
  ASSERT_TRUE(head);
  EXPECT_EQ(head->status, 200);
  EXPECT_EQ(head->get_header_value("Content-Length"), "200000");
  EXPECT_TRUE(head->body.empty());
}

TEST_F(HttpTestServersTest, HttpsServerIsTrustedThroughItsAuthority) {
  net_test::HttpsTestServer server;
  ASSERT_TRUE(server.Listening());
  server.Serve("/s", {{200, "tls"}});
  EXPECT_EQ(server.Url("/s").rfind("https://127.0.0.1:", 0), 0u);

  httplib::SSLClient client("127.0.0.1", server.Port());
  client.set_ca_cert_path(net_test::HttpsTestServer::CaFile().c_str());
  client.enable_server_certificate_verification(true);
  auto got = client.Get("/s");
  ASSERT_TRUE(got) << httplib::to_string(got.error());
  EXPECT_EQ(got->body, "tls");
}

TEST_F(HttpTestServersTest, ProxyForwardsOnlyWithItsCredentials) {
  net_test::HttpTestServer server;
  server.Serve("/p", {{200, "proxied"}});
  net_test::TinyproxyProcess proxy("alice", "s3cret");
  ASSERT_TRUE(proxy.Running());

  httplib::Client client("127.0.0.1", server.Port());
  client.set_proxy("127.0.0.1", proxy.Port());
  EXPECT_EQ(client.Get("/p")->status, 407);
  client.set_proxy_basic_auth("alice", "s3cret");
  auto got = client.Get("/p");
  ASSERT_TRUE(got);
  EXPECT_EQ(got->body, "proxied");
  EXPECT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(proxy.RequestCount(), 2u);
}

}  // namespace
