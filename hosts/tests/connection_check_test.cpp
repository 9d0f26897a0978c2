// noltcmd's connection checks, run as an operator runs them: one transfer against a scripted
// server on loopback, the report on standard output, the recorded error on standard error.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "build_tree_files.h"
#include "foundation/registry/provider_store.h"
#include "foundation/tests/registry_store_identity.h"
#include "http_test_server.h"
#include "platform/child_process.h"
#include "scoped_proxy_environment.h"
#include "scoped_sandbox.h"
#include "tinyproxy_process.h"

namespace {

using net_test::Response;

constexpr uint32_t kGuardMs = 30000;  // a failure guard, never a pause

class ConnectionCheckTest : public ::testing::Test {
 protected:
  // Runs noltcmd with the arguments in the test's sandbox as user alice; its exit status, with
  // standard output and error in output_.
  int Noltcmd(std::vector<std::string> arguments) {
    const std::string outputPath = File("noltcmd.out");
    std::remove(outputPath.c_str());
    arguments.insert(arguments.begin(), BuildPath("bin/noltcmd"));
    platform::ChildProcess child;
    if (!child.Start(arguments, {{"NOLT_ROOT", sandbox_.Root()}, {"NOLT_USER", "alice"}},
                     outputPath)) {
      ADD_FAILURE() << "noltcmd did not start";
      return -1;
    }
    const int status = child.Wait(kGuardMs);
    output_ = ReadFile(outputPath);
    return status;
  }

  std::string File(const std::string& name) const { return sandbox_.Root() + "/" + name; }

  platform::testing::ScopedSandbox sandbox_{"alice"};
  net_test::ScopedProxyEnvironment noEnvironmentProxy_;
  net_test::HttpTestServer server_;
  std::string output_;
};

TEST_F(ConnectionCheckTest, GetWritesTheFileAndReportsTheStatus) {
  server_.Serve("/content/a.txt", {{200, "first body"}});
  ASSERT_EQ(Noltcmd({"--get", server_.Url("/content/a.txt"), File("a.txt")}), 0) << output_;
  EXPECT_NE(output_.find("HTTP return code: 200"), std::string::npos) << output_;
  EXPECT_EQ(ReadFile(File("a.txt")), "first body");
  ASSERT_EQ(server_.Requests().size(), 1u);
  EXPECT_EQ(server_.Requests()[0].method, "GET");
}

TEST_F(ConnectionCheckTest, AMissingFileExitsOneWithItsStatusAndTheRecordedError) {
  ASSERT_EQ(Noltcmd({"--get", server_.Url("/missing.txt"), File("m.txt")}), 1) << output_;
  EXPECT_NE(output_.find("HTTP return code: 404"), std::string::npos) << output_;
  EXPECT_NE(output_.find("GetFile '/missing.txt' -> '" + File("m.txt") +
                         "' from server '127.0.0.1:" + std::to_string(server_.Port()) +
                         "', Failed with error code 404"),
            std::string::npos)
      << output_;
  EXPECT_FALSE(std::ifstream(File("m.txt")).good());

  // No server at all: no status, and the connection failure is what is printed.
  ASSERT_EQ(Noltcmd({"--get", "http://127.0.0.1:1/x", File("x.txt")}), 1) << output_;
  EXPECT_NE(output_.find("HTTP return code: 0"), std::string::npos) << output_;
  EXPECT_EQ(output_.find("no error was recorded"), std::string::npos) << output_;

  // The factory's own error (the thread's list) is printed when the protocol is unknown.
  ASSERT_EQ(Noltcmd({"--get", "gopher://127.0.0.1/x", File("g.txt")}), 1) << output_;
  EXPECT_NE(output_.find("Unknown protocol"), std::string::npos) << output_;
}

TEST_F(ConnectionCheckTest, HeadAsksWithoutABody) {
  server_.Serve("/here", {{200, "body that HEAD never sees"}});
  ASSERT_EQ(Noltcmd({"--head", server_.Url("/here")}), 0) << output_;
  EXPECT_NE(output_.find("HTTP return code: 200"), std::string::npos) << output_;
  ASSERT_EQ(server_.Requests().size(), 1u);
  EXPECT_EQ(server_.Requests()[0].method, "HEAD");

  server_.Serve("/gone", {{410, ""}});
  EXPECT_EQ(Noltcmd({"--head", server_.Url("/gone")}), 1) << output_;
  EXPECT_NE(output_.find("HTTP return code: 410"), std::string::npos) << output_;
}

TEST_F(ConnectionCheckTest, PostSendsTheFileAsTheBody) {
  std::string bytes(5000, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7);
  std::ofstream(File("upload.bin"), std::ios::binary) << bytes;
  server_.Serve("/upload", {{201, ""}});
  ASSERT_EQ(Noltcmd({"--post", File("upload.bin"), server_.Url("/upload")}), 0) << output_;
  EXPECT_NE(output_.find("HTTP return code: 201"), std::string::npos) << output_;
  ASSERT_EQ(server_.Requests().size(), 1u);
  EXPECT_EQ(server_.Requests()[0].method, "POST");
  EXPECT_EQ(server_.Requests()[0].body, bytes);

  // A local file that cannot be read fails without reaching a success.
  EXPECT_EQ(Noltcmd({"--post", File("absent.bin"), server_.Url("/upload")}), 1) << output_;
}

TEST_F(ConnectionCheckTest, GetIfNewerSaysWhetherItDownloaded) {
  std::ofstream(File("served.txt")) << "served text";
  server_.ServeFile("/served.txt", File("served.txt"));
  ASSERT_EQ(Noltcmd({"--get-if-newer", server_.Url("/served.txt"), File("local.txt")}), 0)
      << output_;
  EXPECT_NE(output_.find("Downloaded: " + server_.Url("/served.txt")), std::string::npos)
      << output_;
  EXPECT_EQ(ReadFile(File("local.txt")), "served text");

  ASSERT_EQ(Noltcmd({"--get-if-newer", server_.Url("/served.txt"), File("local.txt")}), 0)
      << output_;
  EXPECT_NE(output_.find("Target is current, not downloaded: " + File("local.txt")),
            std::string::npos)
      << output_;
  EXPECT_EQ(server_.Requests().back().method, "HEAD");
}

// The check goes through the proxy that the user's store names for the provider, as a run does.
TEST_F(ConnectionCheckTest, TheUsersProxyFromTheStoreCarriesTheRequest) {
  net_test::TinyproxyProcess proxy;
  ASSERT_TRUE(proxy.Running());
  {
    ScopedStoreIdentity identity("demo", "alice");
    ASSERT_EQ(provider_store::WriteString("General\\Proxy", "Protocol", "HTTP", true), 0u);
    ASSERT_EQ(provider_store::WriteString("General\\Proxy", "Server", "127.0.0.1", true), 0u);
    ASSERT_EQ(provider_store::WriteDword("General\\Proxy", "Port",
                                         static_cast<uint32_t>(proxy.Port()), true),
              0u);
    ASSERT_EQ(provider_store::WriteDword("General\\Proxy", "UseForWinINet", 1, true), 0u);
  }
  server_.Serve("/via-proxy", {{200, "proxied"}});

  // Another provider's store has no proxy: the request goes straight to the server.
  ASSERT_EQ(Noltcmd({"--get", server_.Url("/via-proxy"), File("direct.txt"), "--provider",
                     "other"}),
            0)
      << output_;
  EXPECT_EQ(proxy.RequestCount(), 0u) << proxy.Log();

  ASSERT_EQ(Noltcmd({"--get", server_.Url("/via-proxy"), File("proxied.txt"), "--provider",
                     "demo", "--user", "alice"}),
            0)
      << output_;
  EXPECT_EQ(ReadFile(File("proxied.txt")), "proxied");
  EXPECT_EQ(proxy.RequestCount(), 1u) << proxy.Log();
}

TEST_F(ConnectionCheckTest, AnIncompleteCommandLinePrintsTheUsage) {
  EXPECT_EQ(Noltcmd({"--get", server_.Url("/a")}), 1);
  EXPECT_NE(output_.find("missing arguments for --get"), std::string::npos) << output_;
  EXPECT_NE(output_.find("usage: noltcmd"), std::string::npos) << output_;
  EXPECT_EQ(Noltcmd({"--head", server_.Url("/a"), "--bogus"}), 1);
  EXPECT_NE(output_.find("unexpected argument: --bogus"), std::string::npos) << output_;
  EXPECT_TRUE(server_.Requests().empty());
}

}  // namespace
