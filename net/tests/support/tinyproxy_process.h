// A tinyproxy forward proxy on a free loopback port for one test: its own configuration, log and
// pid file in a scratch directory, optionally demanding Basic credentials and optionally passing
// every request on to an upstream HTTP proxy. Accepting connections when the constructor
// returns; ended by the destructor.
#pragma once
#include <string>

#include "platform/child_process.h"
#include "scratch_directory.h"

namespace net_test {

class TinyproxyProcess {
 public:
  // Without a user name the proxy asks for no credentials. With `upstream` ("host:port") every
  // request goes on to that proxy in absolute form ("GET http://host:port/path"), so a test
  // server there answers for hosts that cannot be reached directly.
  explicit TinyproxyProcess(const std::string& user = "", const std::string& password = "",
                            const std::string& upstream = "");
  ~TinyproxyProcess();
  TinyproxyProcess(const TinyproxyProcess&) = delete;
  TinyproxyProcess& operator=(const TinyproxyProcess&) = delete;

  // False when the proxy could not be started (a test failure has been reported).
  bool Running() const { return running_; }
  int Port() const { return port_; }
  // "127.0.0.1:<port>" and "http://127.0.0.1:<port>".
  std::string HostPort() const;
  std::string Url() const;

  // The proxy's log so far.
  std::string Log() const;
  // Requests the proxy has read from its clients so far (answered or refused).
  size_t RequestCount() const;

 private:
  bool StartOn(int port, const std::string& user, const std::string& password,
               const std::string& upstream);

  ScratchDirectory directory_{"tidesync-proxy-"};
  platform::ChildProcess process_;
  int port_ = 0;
  bool running_ = false;
};

}  // namespace net_test
