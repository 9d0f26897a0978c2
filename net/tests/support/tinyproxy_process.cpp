#include "tinyproxy_process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/network.h"

namespace net_test {

namespace {

constexpr const char* kTinyproxy = "/usr/bin/tinyproxy";
// The port is free when picked but may be taken before tinyproxy binds it: try a few.
constexpr int kPortAttempts = 3;
constexpr auto kStartTimeout = std::chrono::seconds(10);
constexpr auto kProbeInterval = std::chrono::milliseconds(5);
constexpr const char* kRequestLogMark = "]: Request (file descriptor";
// Written once the port is bound.
constexpr const char* kListeningMark = "Starting main loop. Accepting connections.";

}  // namespace

TinyproxyProcess::TinyproxyProcess(const std::string& user, const std::string& password,
                                   const std::string& upstream) {
  if (directory_.Path().empty()) {
    ADD_FAILURE() << "no scratch directory for the proxy";
    return;
  }
  for (int attempt = 0; attempt < kPortAttempts && !running_; ++attempt) {
    const int port = platform::FreeLoopbackTcpPort();
    if (port > 0) running_ = StartOn(port, user, password, upstream);
  }
  if (!running_) ADD_FAILURE() << "tinyproxy did not start; its log:\n" << Log();
}

TinyproxyProcess::~TinyproxyProcess() {
  if (!running_) return;
  process_.RequestTermination();
  if (process_.Wait(5000) < 0) process_.Kill();
}

bool TinyproxyProcess::StartOn(int port, const std::string& user, const std::string& password,
                               const std::string& upstream) {
  {
    std::ofstream config(directory_.File("tinyproxy.conf"), std::ios::trunc);
    config << "Port " << port << "\n"
           << "Listen 127.0.0.1\n"
           << "Timeout 60\n"
           << "MaxClients 50\n"
           << "Allow 127.0.0.1\n"
           << "LogLevel Info\n"
           << "PidFile \"" << directory_.File("tinyproxy.pid") << "\"\n"
           << "LogFile \"" << directory_.File("tinyproxy.log") << "\"\n";
    if (!user.empty()) config << "BasicAuth " << user << " " << password << "\n";
    if (!upstream.empty()) config << "Upstream http " << upstream << "\n";
  }
  if (!process_.Start({kTinyproxy, "-d", "-c", directory_.File("tinyproxy.conf")}, {},
                      directory_.File("tinyproxy.out"))) {
    return false;
  }
  const auto deadline = std::chrono::steady_clock::now() + kStartTimeout;
  while (std::chrono::steady_clock::now() < deadline) {
    // Its own log, not an accepted connection: another server may have taken the port.
    if (Log().find(kListeningMark) != std::string::npos) {
      port_ = port;
      return true;
    }
    if (process_.Wait(0) >= 0) return false;  // it ended: most likely the port was taken
    std::this_thread::sleep_for(kProbeInterval);
  }
  process_.Kill();
  process_.Wait(5000);
  return false;
}

std::string TinyproxyProcess::HostPort() const { return "127.0.0.1:" + std::to_string(port_); }

std::string TinyproxyProcess::Url() const { return "http://" + HostPort(); }

std::string TinyproxyProcess::Log() const {
  std::ostringstream text;
  for (const char* name : {"tinyproxy.log", "tinyproxy.out"}) {
    std::ifstream in(directory_.File(name));
    if (in) text << in.rdbuf();
  }
  return text.str();
}

size_t TinyproxyProcess::RequestCount() const {
  std::ifstream in(directory_.File("tinyproxy.log"));
  size_t count = 0;
  for (std::string line; std::getline(in, line);) {
    if (line.find(kRequestLogMark) != std::string::npos) ++count;
  }
  return count;
}

}  // namespace net_test
