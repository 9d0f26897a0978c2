#include "tests/e2e/support/loopback_nginx.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

namespace e2e {

extern const char* const kNginxConfigurationTemplate;  // nginx.conf.in, built in

namespace {

namespace fs = std::filesystem;

constexpr const char* kNginx = "/usr/sbin/nginx";
constexpr const char* kOwnPathPrefix = "/.loopback-";  // the harness's own requests
constexpr int kPortAttempts = 5;
constexpr auto kGuard = std::chrono::seconds(15);      // a failure guard, never a pause
constexpr auto kLookAgain = std::chrono::milliseconds(5);

void ReplaceAll(std::string& text, const std::string& placeholder, const std::string& value) {
  for (size_t at = text.find(placeholder); at != std::string::npos;
       at = text.find(placeholder, at + value.size())) {
    text.replace(at, placeholder.size(), value);
  }
}

// One request with curl, past any proxy of the environment, the body going to `output`; true
// when a response came.
bool Request(const std::string& url, const std::string& output = "/dev/null") {
  const std::string command = "curl -s --noproxy '*' -o '" + output + "' '" + url + "'";
  return std::system(command.c_str()) == 0;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool ParseLine(const std::string& line, LoggedRequest& request) {
  std::istringstream fields(line);
  std::string protocol;
  if (!(fields >> request.method >> request.target >> protocol >> request.status >>
        request.contentLength)) {
    return false;
  }
  std::getline(fields >> std::ws, request.contentType);
  return true;
}

std::vector<std::string> Lines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace

std::string LoggedRequest::Query() const {
  const size_t question = target.find('?');
  return question == std::string::npos ? std::string() : target.substr(question + 1);
}

std::string NginxConfiguration(int port, const std::string& documentRoot,
                               const std::string& scratch, const std::string& accessLog) {
  std::string text = kNginxConfigurationTemplate;
  ReplaceAll(text, "@PORT@", std::to_string(port));
  ReplaceAll(text, "@DOCUMENT_ROOT@", documentRoot);
  ReplaceAll(text, "@SCRATCH@", scratch);
  ReplaceAll(text, "@ACCESS_LOG@", accessLog.empty() ? "off" : accessLog + " requests");
  return text;
}

LoopbackNginx::~LoopbackNginx() {
  if (process_ != nullptr && process_->RequestTermination() && process_->Wait(5000) < 0) {
    process_->Kill();
  }
}

// nginx opens its socket before serving; the probe's answer, which names this instance's
// scratch folder, proves both. A child that ended instead could not take the port.
bool LoopbackNginx::AwaitFirstResponse() {
  const std::string answer = scratch_ + "/probe.out";
  const auto deadline = std::chrono::steady_clock::now() + kGuard;
  while (std::chrono::steady_clock::now() < deadline) {
    if (process_->Wait(0) >= 0) return false;
    if (Request(Url(std::string(kOwnPathPrefix) + "probe"), answer)) {
      return ReadAll(answer) == scratch_ + "\n";
    }
    std::this_thread::sleep_for(kLookAgain);
  }
  return false;
}

bool LoopbackNginx::Start(const std::string& documentRoot, const std::string& scratch,
                          bool accessLog) {
  std::error_code error;
  fs::create_directories(scratch, error);
  scratch_ = scratch;
  accessLog_ = accessLog;
  const std::string configuration = scratch + "/nginx.conf";
  std::mt19937 random(std::random_device{}());
  for (int attempt = 0; attempt < kPortAttempts; ++attempt) {
    port_ = 20000 + static_cast<int>(random() % 40000);
    std::ofstream out(configuration, std::ios::trunc);
    out << NginxConfiguration(port_, documentRoot, scratch, accessLog ? AccessLogPath() : "");
    if (!out.flush()) return false;
    process_ = std::make_unique<platform::ChildProcess>();
    if (!process_->Start({kNginx, "-p", scratch + "/", "-e", scratch + "/error.log", "-c",
                          configuration},
                         {}, scratch + "/nginx.out")) {
      return false;
    }
    if (AwaitFirstResponse()) return true;
    process_->Kill();  // the destructor reaps it
  }
  process_.reset();
  return false;
}

std::string LoopbackNginx::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

bool LoopbackNginx::TakeRequests(std::vector<LoggedRequest>& requests) {
  requests.clear();
  if (!accessLog_ || process_ == nullptr) return false;
  const std::string mark = std::string(kOwnPathPrefix) + "mark-" + std::to_string(++marks_);
  if (!Request(Url(mark))) return false;
  // nginx writes a request's line once it has sent the answer, so the mark's line may follow
  // curl's return by a moment; the lines before it are complete.
  const auto deadline = std::chrono::steady_clock::now() + kGuard;
  for (;;) {
    const std::vector<std::string> lines = Lines(AccessLogPath());
    for (size_t i = linesTaken_; i < lines.size(); ++i) {
      LoggedRequest request;
      if (!ParseLine(lines[i], request)) continue;
      if (request.target != mark) {
        if (request.target.rfind(kOwnPathPrefix, 0) != 0) requests.push_back(request);
        continue;
      }
      linesTaken_ = i + 1;
      return true;
    }
    requests.clear();
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(kLookAgain);
  }
}

}  // namespace e2e
