// Loopback endpoints that misbehave as real ones can: a port that refuses connections or lets
// them hang in their handshake, and a server that answers with raw bytes and may then hold the
// connection, trickling more only when the test says so.
#pragma once
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace net_test {

// A loopback port held bound, so that no other socket takes it while the object lives.
// kRefusing refuses connections; kHanging listens with a full queue and never accepts, so a new
// connection stays in its handshake.
class DeadPort {
 public:
  enum Kind { kRefusing, kHanging };
  explicit DeadPort(Kind kind = kRefusing);
  ~DeadPort();
  DeadPort(const DeadPort&) = delete;
  DeadPort& operator=(const DeadPort&) = delete;
  int Port() const { return port_; }
  // "http://127.0.0.1:<port>" + path.
  std::string Url(const std::string& path) const;

 private:
  int port_ = 0;
  std::vector<int> sockets_;  // the bound one, then those that fill its queue
};

// Answers each connection, once its request head arrived, with `reply` and closes it; with
// `hold` it keeps the connection open instead and sends `drip` once per Release().
class RawHttpServer {
 public:
  explicit RawHttpServer(std::string reply, bool hold = false, std::string drip = "");
  ~RawHttpServer();
  RawHttpServer(const RawHttpServer&) = delete;
  RawHttpServer& operator=(const RawHttpServer&) = delete;

  std::string Url(const std::string& path) const;
  void Release();
  size_t RequestCount() const;

 private:
  void Serve(int client);

  const std::string reply_, drip_;
  const bool hold_;
  int port_ = 0;
  int listener_ = -1;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  size_t requests_ = 0, releases_ = 0;
  bool stopping_ = false;
  std::vector<int> clients_;
  std::vector<std::thread> threads_;
  std::thread acceptor_;
};

}  // namespace net_test
