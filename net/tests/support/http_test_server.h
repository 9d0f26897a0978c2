// HTTP and HTTPS servers for tests: 127.0.0.1 on a port of the system's choice, serving scripted
// responses or files on a thread of their own, and recording every request they see. Ready to
// accept connections when the constructor returns.
#pragma once
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace net_test {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

struct Response {
  Response() = default;
  Response(int statusCode, std::string bodyText, HeaderList extraHeaders = {})
      : status(statusCode), body(std::move(bodyText)), headers(std::move(extraHeaders)) {}

  int status = 200;
  std::string body;
  HeaderList headers;
  // "Basic <base64 of user:password>": answered with 401 (and a Basic challenge) unless the
  // request carries this Authorization; the response stays for the next request then.
  std::string authorization;
};

struct RecordedRequest {
  std::string method;
  std::string path;   // decoded, without the query
  std::string query;  // the text after '?', empty when none
  std::string body;
  HeaderList headers;

  // The first header of that name (any case); empty when absent.
  std::string Header(std::string_view name) const;
};

class HttpTestServer {
 public:
  HttpTestServer();
  virtual ~HttpTestServer();
  HttpTestServer(const HttpTestServer&) = delete;
  HttpTestServer& operator=(const HttpTestServer&) = delete;

  int Port() const;
  // "http://127.0.0.1:<port>" + path ("https://" for the secure server).
  std::string Url(std::string_view path) const;

  // Answers any method at `path` with these responses in order; the last one repeats.
  void Serve(const std::string& path, std::vector<Response> responses);
  // Answers with a local file, its Last-Modified its modification time (headers only for
  // HEAD); 404 while the file is missing.
  void ServeFile(const std::string& path, const std::string& localFile);

  // Every request seen so far, in arrival order; requests to unserved paths get 404.
  std::vector<RecordedRequest> Requests() const;
  // Distinct client connections seen so far.
  size_t ConnectionCount() const;

  struct State;

 protected:
  explicit HttpTestServer(bool secure);

 private:
  std::unique_ptr<State> state_;
};

// The same over TLS, with a certificate for "127.0.0.1" and "localhost" issued by a test
// authority made with the openssl command line.
class HttpsTestServer : public HttpTestServer {
 public:
  HttpsTestServer() : HttpTestServer(true) {}
  // The test authority's certificate (PEM), for the client's trust store.
  static std::string CaFile();
};

}  // namespace net_test
