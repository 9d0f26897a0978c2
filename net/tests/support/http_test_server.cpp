#include "http_test_server.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <strings.h>
#include <sys/stat.h>

#include <chrono>
#include <ctime>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

#include "scratch_directory.h"
#include "test_pki.h"

namespace net_test {

namespace {

// What a path answers with: scripted responses, or a local file.
struct Route {
  std::vector<Response> responses;
  size_t next = 0;
  std::string file;
};

// The test authority and the server certificate it issued, made once per process.
struct TestCertificates {
  ScratchDirectory directory{"tidesync-https-"};
  std::string ca = directory.File("ca.pem"), certificate = directory.File("server.pem"),
              key = directory.File("server.key");

  TestCertificates() {
    const std::string dir = directory.Path();
    std::ofstream(directory.File("server.ext"))
        << "basicConstraints=CA:FALSE\n"
           "keyUsage=critical,digitalSignature,keyEncipherment\n"
           "extendedKeyUsage=serverAuth\n"
           "subjectAltName=IP:127.0.0.1,DNS:localhost\n";
    const std::string curve = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
    const bool made =
        !dir.empty() &&
        RunCommand("openssl req -x509" + curve + " -keyout '" + dir + "/ca.key' -out '" + ca +
                   "' -days 3650 -subj '/CN=Test HTTPS Root'"
                   " -addext basicConstraints=critical,CA:TRUE"
                   " -addext keyUsage=critical,keyCertSign,cRLSign") &&
        RunCommand("openssl req" + curve + " -keyout '" + key + "' -out '" + dir +
                   "/server.csr' -subj '/CN=127.0.0.1'") &&
        RunCommand("openssl x509 -req -in '" + dir + "/server.csr' -CA '" + ca + "' -CAkey '" +
                   dir + "/ca.key' -CAcreateserial -days 365 -extfile '" + dir +
                   "/server.ext' -out '" + certificate + "'");
    if (!made) ADD_FAILURE() << "the test authority could not be made";
  }
};

const TestCertificates& Certificates() {
  static TestCertificates certificates;
  return certificates;
}

// The file's bytes and its modification time as an HTTP date; false when it cannot be read.
bool ReadServedFile(const std::string& path, std::string& bytes, std::string& date) {
  struct stat status {};
  std::ifstream in(path, std::ios::binary);
  if (!in || stat(path.c_str(), &status) != 0) return false;
  std::ostringstream content;
  content << in.rdbuf();
  bytes = content.str();
  std::tm time{};
  gmtime_r(&status.st_mtime, &time);
  char text[40];
  std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &time);
  date = text;
  return true;
}

}  // namespace

struct HttpTestServer::State {
  std::unique_ptr<httplib::Server> server;
  std::thread thread;
  int port = -1;
  bool secure = false;

  mutable std::mutex mutex;
  std::map<std::string, Route> routes;
  std::vector<RecordedRequest> requests;
  std::set<int> remotePorts;

  void Handle(const httplib::Request& request, httplib::Response& response);
  void Start();
};

void HttpTestServer::State::Start() {
  const auto handler = [this](const httplib::Request& request, httplib::Response& response) {
    Handle(request, response);
  };
  server->Get(".*", handler);  // also answers HEAD
  server->Post(".*", handler);
  server->Put(".*", handler);
  server->Delete(".*", handler);
  port = server->bind_to_any_port("127.0.0.1");
  if (port <= 0) {
    ADD_FAILURE() << "the test server could not listen";
    return;
  }
  thread = std::thread([this] { server->listen_after_bind(); });
  // The socket already queues connections; wait for the accept loop so that stop() reaches it.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!server->is_running() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (!server->is_running()) ADD_FAILURE() << "the test server did not start";
}

void HttpTestServer::State::Handle(const httplib::Request& request, httplib::Response& response) {
  RecordedRequest recorded{request.method, request.path, "", request.body, {}};
  const size_t question = request.target.find('?');
  if (question != std::string::npos) recorded.query = request.target.substr(question + 1);
  for (const auto& [name, value] : request.headers) recorded.headers.emplace_back(name, value);
  std::unique_lock<std::mutex> lock(mutex);
  requests.push_back(std::move(recorded));
  remotePorts.insert(request.remote_port);
  const auto found = routes.find(request.path);
  if (found == routes.end() || (found->second.file.empty() && found->second.responses.empty())) {
    response.status = 404;
    return;
  }
  Route& route = found->second;
  std::string bytes, date;
  if (!route.file.empty()) {
    response.status = 404;
    if (ReadServedFile(route.file, bytes, date)) {
      response.status = 200;
      response.set_header("Last-Modified", date);
      response.set_content(bytes, "application/octet-stream");
    }
    return;
  }
  const Response scripted = route.responses[route.next];
  if (!scripted.authorization.empty() &&
      request.get_header_value("Authorization") != scripted.authorization) {
    response.status = 401;
    response.set_header("WWW-Authenticate", "Basic realm=\"test\"");
    return;
  }
  route.next = std::min(route.next + 1, route.responses.size() - 1);
  response.status = scripted.status;
  for (const auto& [name, value] : scripted.headers) response.set_header(name, value);
  response.set_content(scripted.body, "application/octet-stream");
}

std::string RecordedRequest::Header(std::string_view name) const {
  for (const auto& [key, value] : headers) {
    if (key.size() == name.size() && strncasecmp(key.data(), name.data(), key.size()) == 0) {
      return value;
    }
  }
  return std::string();
}

HttpTestServer::HttpTestServer() : HttpTestServer(false) {}

HttpTestServer::HttpTestServer(bool secure) : state_(std::make_unique<State>()) {
  state_->secure = secure;
  if (!secure) {
    state_->server = std::make_unique<httplib::Server>();
  } else {
    const TestCertificates& certificates = Certificates();
    state_->server = std::make_unique<httplib::SSLServer>(certificates.certificate.c_str(),
                                                          certificates.key.c_str());
  }
  if (state_->server->is_valid()) {
    state_->Start();
  } else {
    ADD_FAILURE() << "the test server has no usable certificate";
  }
}

HttpTestServer::~HttpTestServer() {
  if (state_->thread.joinable()) {
    state_->server->stop();
    state_->thread.join();
  }
}

int HttpTestServer::Port() const { return state_->port; }

std::string HttpTestServer::Url(std::string_view path) const {
  return std::string(state_->secure ? "https" : "http") +
         "://127.0.0.1:" + std::to_string(state_->port) + std::string(path);
}

void HttpTestServer::Serve(const std::string& path, std::vector<Response> responses) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->routes[path] = Route{std::move(responses), 0, std::string()};
}

void HttpTestServer::ServeFile(const std::string& path, const std::string& localFile) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->routes[path] = Route{{}, 0, localFile};
}

std::vector<RecordedRequest> HttpTestServer::Requests() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->requests;
}

size_t HttpTestServer::ConnectionCount() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->remotePorts.size();
}

std::string HttpsTestServer::CaFile() { return Certificates().ca; }

}  // namespace net_test
