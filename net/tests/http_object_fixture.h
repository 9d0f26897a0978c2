// What the HTTP transfer-object tests share: a sandbox with a provider identity, no proxy from
// the environment, the HTTP kinds registered, a scripted server on loopback, and helpers for
// files and for the shared error list.
#pragma once
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "foundation/log/error_store.h"
#include "foundation/tests/registry_store_identity.h"
#include "foundation/transfer/hx_remote_object.h"
#include "http_test_server.h"
#include "net/http/curl_binding_for_testing.h"
#include "net/http/http_transfer.h"
#include "net/http/hx_http_object.h"
#include "net/http/proxy_settings.h"
#include "scoped_proxy_environment.h"
#include "scoped_sandbox.h"

class HttpObjectTest : public ::testing::Test {
 protected:
  HttpObjectTest() {
    platform::testing::SetEnvironment("NOLT_CA_FILE", "");
    ForgetCachedSessionProxy();
    http_binding::ReevaluateHttpLibraryForTesting();
    RegisterHttpTransferObjects();
  }
  ~HttpObjectTest() override { DropPooledConnections(); }

  // Closes the kept-alive connections, so that a server can stop without waiting on them.
  static void DropPooledConnections() {
    EXPECT_TRUE(http_binding::DropSharedConnectionsForTesting());
  }

  std::shared_ptr<HxHttpObject> Object(const std::string& location) {
    return std::dynamic_pointer_cast<HxHttpObject>(CreateRemoteObject(location));
  }
  std::shared_ptr<HxHttpObject> Object(const net_test::HttpTestServer& server,
                                       const std::string& path) {
    return Object(server.Url(path));
  }

  std::string File(const std::string& name) const { return sandbox_.Root() + "/" + name; }
  static void Write(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
  }
  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
  }

  // The message of the newest shared error when one was raised since `before` errors.
  static std::string NewSharedError(size_t before) {
    HxErr record;
    if (SharedErrorCount() == before || !LastSharedErrorRecord(record)) return "";
    return std::string(std::string_view(record.Message()));
  }
  // "HttpObject error: " + text, as the shared list holds it.
  static std::string HttpError(const std::string& text) { return "HttpObject error: " + text; }
  // The record of a failed GetFile of `path` on `server` into `target`.
  static std::string GetFileError(const std::string& path, const std::string& target,
                                  const std::string& server, const std::string& tail) {
    return HttpError("GetFile '" + path + "' -> '" + target + "' from server '" + server + "', " +
                     tail);
  }
  std::string ServerName(const net_test::HttpTestServer& server) const {
    return "127.0.0.1:" + std::to_string(server.Port());
  }

  platform::testing::ScopedSandbox sandbox_;
  ScopedStoreIdentity identity_{"provider", "tester"};
  net_test::ScopedProxyEnvironment noEnvironmentProxy_;
  net_test::HttpTestServer server_;
};
