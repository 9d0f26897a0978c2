// An nginx of the bench's own on 127.0.0.1: a private configuration, pid file and error log in a
// scratch directory, no access log, keep-alive on, serving one document directory. Runs in the
// foreground as one process (so it needs no privileges and leaves nothing behind) until the
// object goes out of scope.
#pragma once
#include <memory>
#include <string>

#include "platform/child_process.h"

class LoopbackNginx {
 public:
  LoopbackNginx() = default;
  ~LoopbackNginx();
  LoopbackNginx(const LoopbackNginx&) = delete;
  LoopbackNginx& operator=(const LoopbackNginx&) = delete;

  // Starts nginx serving `documentRoot`, with its own files in `scratch` (created), on a free
  // port; returns once a request for `probePath` (a file below the root, "/name") succeeds.
  bool Start(const std::string& documentRoot, const std::string& scratch,
             const std::string& probePath);

  // "http://127.0.0.1:PORT" + path.
  std::string Url(const std::string& path) const;

 private:
  bool WriteConfiguration(const std::string& documentRoot, const std::string& scratch) const;
  bool AwaitFirstResponse(const std::string& probePath);

  std::unique_ptr<platform::ChildProcess> process_;  // one per port tried
  int port_ = 0;
};

// The peak resident size of this process so far (VmHWM), in KiB; 0 when unknown.
long PeakResidentKiB();
