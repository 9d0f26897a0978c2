#include "bench/loopback_nginx.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;

namespace {

constexpr const char* kNginx = "/usr/sbin/nginx";
constexpr int kPortAttempts = 5;
constexpr int kProbes = 300;
constexpr auto kProbeInterval = std::chrono::milliseconds(10);

}  // namespace

LoopbackNginx::~LoopbackNginx() {
  if (process_ != nullptr && process_->RequestTermination() && process_->Wait(5000) < 0) {
    process_->Kill();
  }
}

bool LoopbackNginx::WriteConfiguration(const std::string& documentRoot,
                                       const std::string& scratch) const {
  std::ofstream out(scratch + "/nginx.conf");
  out << "daemon off;\n"
         "master_process off;\n"
         "worker_processes 1;\n"
      << "pid " << scratch << "/nginx.pid;\n"
      << "error_log " << scratch << "/error.log warn;\n"
      << "events { worker_connections 256; }\n"
         "http {\n"
         "  access_log off;\n"
         "  sendfile on;\n"
         "  tcp_nopush on;\n"
         "  keepalive_timeout 60;\n"
         "  keepalive_requests 100000;\n"
         "  default_type application/octet-stream;\n";
  for (const char* kind : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"}) {
    out << "  " << kind << "_temp_path " << scratch << "/" << kind << ";\n";
  }
  out << "  server {\n"
      << "    listen 127.0.0.1:" << port_ << ";\n"
      << "    root " << documentRoot << ";\n"
      << "  }\n"
         "}\n";
  return static_cast<bool>(out.flush());
}

// nginx opens its socket before serving; a probe that gets the file proves both. A child that
// ended instead could not take the port.
bool LoopbackNginx::AwaitFirstResponse(const std::string& probePath) {
  const std::string probe = "curl -sf -o /dev/null '" + Url(probePath) + "'";
  for (int i = 0; i < kProbes; ++i) {
    if (process_->Wait(0) >= 0) return false;
    if (std::system(probe.c_str()) == 0) return true;
    std::this_thread::sleep_for(kProbeInterval);
  }
  return false;
}

bool LoopbackNginx::Start(const std::string& documentRoot, const std::string& scratch,
                          const std::string& probePath) {
  fs::create_directories(scratch);
  std::mt19937 random(std::random_device{}());
  for (int attempt = 0; attempt < kPortAttempts; ++attempt) {
    port_ = 20000 + static_cast<int>(random() % 40000);
    if (!WriteConfiguration(documentRoot, scratch)) return false;
    process_ = std::make_unique<platform::ChildProcess>();
    if (!process_->Start({kNginx, "-p", scratch + "/", "-e", scratch + "/error.log", "-c",
                          scratch + "/nginx.conf"},
                         {}, scratch + "/nginx.out")) {
      return false;
    }
    if (AwaitFirstResponse(probePath)) return true;
    process_->Kill();  // the destructor reaps it
  }
  process_.reset();
  return false;
}

std::string LoopbackNginx::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

long PeakResidentKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return 0;
}
