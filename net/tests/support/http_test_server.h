// HTTP and HTTPS servers for tests: 127.0.0.1 on a port of the system's choice, serving scripted
// responses or files on a thread of their own, and recording every request they see. Ready to
// accept connections when the constructor returns.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace net_test {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

struct Response {
  static constexpr size_t kWholeBody = static_cast<size_t>(-1);

  Response() = default;
  Response(int statusCode, std::string bodyText, HeaderList extraHeaders = {})
      : status(statusCode), body(std::move(bodyText)), headers(std::move(extraHeaders)) {}

  int status = 200;
  std::string body;
  HeaderList headers;
  // Announce the whole body's Content-Length, but close the connection after this many bytes.
  size_t breakAfter = kWholeBody;
  // Answer 401 (with a Basic challenge) unless the request carries these credentials; the
  // response is kept for the next request then.
  bool requireBasicAuth = false;
  std::string user, password;
};

struct RecordedRequest {
  std::string method;
  std::string path;   // without the query
  std::string query;  // the text after '?', empty when none
  std::string body;
  HeaderList headers;
  int remotePort = -1;

  // The first header of that name (any case); empty when absent.
  std::string Header(std::string_view name) const;
};

class HttpTestServer {
 public:
  HttpTestServer();
  virtual ~HttpTestServer();
  HttpTestServer(const HttpTestServer&) = delete;
  HttpTestServer& operator=(const HttpTestServer&) = delete;

  // False when the server could not listen (a test failure has been reported).
  bool Listening() const;
  int Port() const;
  // "http://127.0.0.1:<port>" + path ("https://" for the secure server).
  std::string Url(std::string_view path) const;

  // Answers any method at `path` with these responses in order; the last one repeats.
  void Serve(const std::string& path, std::vector<Response> responses);
  // Streams a local file at `path` with Content-Length and Last-Modified (its modification
  // time), headers only for HEAD; 404 while the file is missing.
  void ServeFile(const std::string& path, const std::string& localFile);

  // Every request seen so far, in arrival order; requests to unserved paths get 404.
  std::vector<RecordedRequest> Requests() const;
  // Distinct client connections seen so far.
  size_t ConnectionCount() const;

  struct State;

 protected:
  struct SecureTag {};
  explicit HttpTestServer(SecureTag);

 private:
  std::unique_ptr<State> state_;
};

// The same over TLS, with a certificate for "127.0.0.1" and "localhost" issued by a test
// authority made with the openssl command line.
class HttpsTestServer : public HttpTestServer {
 public:
  HttpsTestServer();
  // The test authority's certificate (PEM), for the client's trust store.
  static std::string CaFile();
};

// The RFC 1123 date of a file's modification time ("Sun, 06 Nov 1994 08:49:37 GMT"); empty
// when the file is missing.
std::string HttpDateOfFile(const std::string& localFile);

}  // namespace net_test
