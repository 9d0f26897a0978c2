#include "http_test_server.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "scratch_directory.h"
#include "test_pki.h"

namespace net_test {

namespace {

namespace fs = std::filesystem;

constexpr const char* kDefaultContentType = "application/octet-stream";
constexpr size_t kFileChunk = 64 * 1024;

std::string Base64(std::string_view bytes) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    uint32_t group = static_cast<uint8_t>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) group |= static_cast<uint8_t>(bytes[i + 1]) << 8;
    if (i + 2 < bytes.size()) group |= static_cast<uint8_t>(bytes[i + 2]);
    text += kAlphabet[(group >> 18) & 63];
    text += kAlphabet[(group >> 12) & 63];
    text += i + 1 < bytes.size() ? kAlphabet[(group >> 6) & 63] : '=';
    text += i + 2 < bytes.size() ? kAlphabet[group & 63] : '=';
  }
  return text;
}

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

// What a path answers with: scripted responses, or a local file.
struct Route {
  std::vector<Response> responses;
  size_t next = 0;
  std::string file;
};

// The test authority and the server certificate it issued, made once per process.
struct TestCertificates {
  ScratchDirectory directory{"tidesync-https-"};
  std::string ca, certificate, key;

  TestCertificates() {
    const std::string dir = directory.Path();
    const std::string ext = directory.File("server.ext");
    std::ofstream(ext) << "basicConstraints=CA:FALSE\n"
                          "keyUsage=critical,digitalSignature,keyEncipherment\n"
                          "extendedKeyUsage=serverAuth\n"
                          "subjectAltName=IP:127.0.0.1,DNS:localhost\n";
    const std::string curve = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
    const bool made =
        !dir.empty() &&
        RunCommand("openssl req -x509" + curve + " -keyout '" + dir + "/ca.key' -out '" + dir +
                   "/ca.pem' -days 3650 -subj '/CN=Test HTTPS Root'"
                   " -addext basicConstraints=critical,CA:TRUE"
                   " -addext keyUsage=critical,keyCertSign,cRLSign") &&
        RunCommand("openssl req" + curve + " -keyout '" + dir + "/server.key' -out '" + dir +
                   "/server.csr' -subj '/CN=127.0.0.1'") &&
        RunCommand("openssl x509 -req -in '" + dir + "/server.csr' -CA '" + dir +
                   "/ca.pem' -CAkey '" + dir + "/ca.key' -CAcreateserial -days 365 -extfile '" +
                   ext + "' -out '" + dir + "/server.pem'");
    if (made) {
      ca = directory.File("ca.pem");
      certificate = directory.File("server.pem");
      key = directory.File("server.key");
    }
  }
};

const TestCertificates& Certificates() {
  static TestCertificates certificates;
  return certificates;
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
  void Record(const httplib::Request& request);
  void Answer(const Response& scripted, httplib::Response& response);
  static void AnswerWithFile(const std::string& file, httplib::Response& response);
  void Start();
};

void HttpTestServer::State::Start() {
  const auto handler = [this](const httplib::Request& request, httplib::Response& response) {
    Handle(request, response);
  };
  const std::string any = ".*";
  server->Get(any, handler);  // also answers HEAD
  server->Post(any, handler);
  server->Put(any, handler);
  server->Delete(any, handler);
  server->Patch(any, handler);
  server->Options(any, handler);
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

void HttpTestServer::State::Record(const httplib::Request& request) {
  RecordedRequest recorded;
  recorded.method = request.method;
  recorded.path = request.path;
  const size_t question = request.target.find('?');
  if (question != std::string::npos) recorded.query = request.target.substr(question + 1);
  recorded.body = request.body;
  for (const auto& [name, value] : request.headers) recorded.headers.emplace_back(name, value);
  recorded.remotePort = request.remote_port;
  std::lock_guard<std::mutex> lock(mutex);
  requests.push_back(std::move(recorded));
  remotePorts.insert(request.remote_port);
}

void HttpTestServer::State::Handle(const httplib::Request& request, httplib::Response& response) {
  Record(request);
  std::unique_lock<std::mutex> lock(mutex);
  const auto found = routes.find(request.path);
  if (found == routes.end() || (found->second.file.empty() && found->second.responses.empty())) {
    response.status = 404;
    return;
  }
  Route& route = found->second;
  if (!route.file.empty()) {
    const std::string file = route.file;
    lock.unlock();
    AnswerWithFile(file, response);
    return;
  }
  const Response scripted = route.responses[route.next];
  if (scripted.requireBasicAuth && request.get_header_value("Authorization") !=
                                       "Basic " + Base64(scripted.user + ":" + scripted.password)) {
    response.status = 401;
    response.set_header("WWW-Authenticate", "Basic realm=\"test\"");
    response.set_content("authorization required", "text/plain");
    return;
  }
  route.next = std::min(route.next + 1, route.responses.size() - 1);
  lock.unlock();
  Answer(scripted, response);
}

void HttpTestServer::State::Answer(const Response& scripted, httplib::Response& response) {
  response.status = scripted.status;
  std::string contentType = kDefaultContentType;
  for (const auto& [name, value] : scripted.headers) {
    if (SameName(name, "Content-Type")) {
      contentType = value;
    } else {
      response.set_header(name, value);
    }
  }
  if (scripted.breakAfter >= scripted.body.size()) {
    response.set_content(scripted.body, contentType);
    return;
  }
  // The full length is announced; returning false after breakAfter bytes drops the connection.
  response.set_content_provider(scripted.body.size(), contentType,
                                [body = scripted.body, cut = scripted.breakAfter](
                                    size_t offset, size_t length, httplib::DataSink& sink) {
                                  if (offset >= cut) return false;
                                  sink.write(body.data() + offset, std::min(length, cut - offset));
                                  return true;
                                });
}

void HttpTestServer::State::AnswerWithFile(const std::string& file, httplib::Response& response) {
  std::error_code error;
  const uintmax_t size = fs::file_size(file, error);
  auto stream = std::make_shared<std::ifstream>(file, std::ios::binary);
  if (error || !*stream) {
    response.status = 404;
    return;
  }
  response.status = 200;
  response.set_header("Last-Modified", HttpDateOfFile(file));
  response.set_content_provider(static_cast<size_t>(size), kDefaultContentType,
                                [stream](size_t offset, size_t length, httplib::DataSink& sink) {
                                  std::vector<char> chunk(std::min(length, kFileChunk));
                                  stream->seekg(static_cast<std::streamoff>(offset));
                                  stream->read(chunk.data(),
                                               static_cast<std::streamsize>(chunk.size()));
                                  const std::streamsize got = stream->gcount();
                                  if (got <= 0) return false;
                                  sink.write(chunk.data(), static_cast<size_t>(got));
                                  return true;
                                });
}

std::string RecordedRequest::Header(std::string_view name) const {
  for (const auto& [key, value] : headers) {
    if (SameName(key, name)) return value;
  }
  return std::string();
}

HttpTestServer::HttpTestServer() : state_(std::make_unique<State>()) {
  state_->server = std::make_unique<httplib::Server>();
  state_->Start();
}

HttpTestServer::HttpTestServer(SecureTag) : state_(std::make_unique<State>()) {
  const TestCertificates& certificates = Certificates();
  state_->secure = true;
  state_->server = std::make_unique<httplib::SSLServer>(certificates.certificate.c_str(),
                                                        certificates.key.c_str());
  if (!state_->server->is_valid()) {
    ADD_FAILURE() << "the HTTPS test server has no usable certificate";
    return;
  }
  state_->Start();
}

HttpTestServer::~HttpTestServer() {
  if (state_->thread.joinable()) {
    state_->server->stop();
    state_->thread.join();
  }
}

bool HttpTestServer::Listening() const { return state_->thread.joinable(); }

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

HttpsTestServer::HttpsTestServer() : HttpTestServer(SecureTag{}) {}

std::string HttpsTestServer::CaFile() { return Certificates().ca; }

std::string HttpDateOfFile(const std::string& localFile) {
  using namespace std::chrono;
  std::error_code error;
  const fs::file_time_type modified = fs::last_write_time(localFile, error);
  if (error) return std::string();
  const auto stamp = floor<seconds>(file_clock::to_sys(modified));
  const sys_days day = floor<days>(stamp);
  const year_month_day date(day);
  const hh_mm_ss<seconds> time(stamp - day);
  static constexpr const char* kWeekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  char text[40];
  std::snprintf(text, sizeof text, "%s, %02u %s %04d %02d:%02d:%02d GMT",
                kWeekdays[weekday(day).c_encoding()], static_cast<unsigned>(date.day()),
                kMonths[static_cast<unsigned>(date.month()) - 1], static_cast<int>(date.year()),
                static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                static_cast<int>(time.seconds().count()));
  return text;
}

}  // namespace net_test
