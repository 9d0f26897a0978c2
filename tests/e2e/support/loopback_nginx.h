// An nginx of the caller's own on 127.0.0.1, configured from the shared template
// (nginx.conf.in, which the demo fills too): one process in the foreground with its
// configuration, pid file and logs in a scratch directory, keep-alive on, serving one document
// directory, until the object goes out of scope. With an access log it tells which requests
// arrived, in order.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "platform/child_process.h"

namespace e2e {

// One line of the access log.
struct LoggedRequest {
  std::string method;         // as the client sent it ("POST" also when nginx served a file)
  std::string target;         // path and query as they were on the wire (escaped)
  int status = 0;
  std::string contentLength;  // of the request body; "-" without one
  std::string contentType;    // of the request body; "-" without one

  std::string Path() const { return target.substr(0, target.find('?')); }
  // The query after '?', empty without one.
  std::string Query() const;
};

// The template with its placeholders filled; `accessLog` empty turns the access log off.
std::string NginxConfiguration(int port, const std::string& documentRoot,
                               const std::string& scratch, const std::string& accessLog);

class LoopbackNginx {
 public:
  LoopbackNginx() = default;
  ~LoopbackNginx();
  LoopbackNginx(const LoopbackNginx&) = delete;
  LoopbackNginx& operator=(const LoopbackNginx&) = delete;

  // Starts nginx serving `documentRoot`, with its own files in `scratch` (created), on a free
  // port; returns once it answers a request.
  bool Start(const std::string& documentRoot, const std::string& scratch, bool accessLog = false);

  // "http://127.0.0.1:PORT" + path.
  std::string Url(const std::string& path) const;

  // The requests logged since the last call (or the start), the harness's own left out. Every
  // request answered before the call is in it: a request of the caller's own, answered after
  // them by the one nginx process, marks the end of what is read. False (with `requests`
  // partial) without an access log or when the mark does not show up.
  bool TakeRequests(std::vector<LoggedRequest>& requests);

  std::string AccessLogPath() const { return scratch_ + "/access.log"; }

 private:
  bool AwaitFirstResponse();

  std::unique_ptr<platform::ChildProcess> process_;  // one per port tried
  std::string scratch_;
  int port_ = 0;
  bool accessLog_ = false;
  size_t linesTaken_ = 0;
  int marks_ = 0;
};

}  // namespace e2e
