#include "loopback_sockets.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace net_test {

namespace {

// A TCP socket bound to 127.0.0.1, with `port` set to the port of the system's choice (and
// `listening` with a queue of that length); -1 on failure.
int BoundSocket(int& port, int queue = -1) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  auto* generic = reinterpret_cast<sockaddr*>(&address);
  if (fd < 0 || bind(fd, generic, size) != 0 || getsockname(fd, generic, &size) != 0 ||
      (queue >= 0 && listen(fd, queue) != 0)) {
    ADD_FAILURE() << "no loopback port could be bound";
    if (fd >= 0) close(fd);
    return -1;
  }
  port = ntohs(address.sin_port);
  return fd;
}

std::string LoopbackUrl(int port, const std::string& path) {
  return "http://127.0.0.1:" + std::to_string(port) + path;
}

}  // namespace

DeadPort::DeadPort(Kind kind) {
  sockets_.push_back(BoundSocket(port_, kind == kHanging ? 0 : -1));
  if (kind != kHanging || sockets_[0] < 0) return;
  // A queue of length 0 holds one connection; the system drops the handshakes after it.
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port_));
  for (int i = 0; i < 2; ++i) {
    sockets_.push_back(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    connect(sockets_.back(), reinterpret_cast<sockaddr*>(&address), sizeof address);
  }
}

DeadPort::~DeadPort() {
  for (int fd : sockets_) close(fd);
}

std::string DeadPort::Url(const std::string& path) const { return LoopbackUrl(port_, path); }

RawHttpServer::RawHttpServer(std::string reply, bool hold, std::string drip)
    : reply_(std::move(reply)), drip_(std::move(drip)), hold_(hold) {
  listener_ = BoundSocket(port_, 8);
  if (listener_ < 0) return;
  acceptor_ = std::thread([this] {
    for (int client; (client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) {
      std::lock_guard<std::mutex> lock(mutex_);
      clients_.push_back(client);
      threads_.emplace_back([this, client] { Serve(client); });
    }
  });
}

RawHttpServer::~RawHttpServer() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  if (acceptor_.joinable()) {
    shutdown(listener_, SHUT_RDWR);  // ends the accept
    acceptor_.join();
  }
  for (std::thread& thread : threads_) thread.join();
  for (int client : clients_) close(client);
  if (listener_ >= 0) close(listener_);
}

void RawHttpServer::Serve(int client) {
  std::string head;
  char buffer[4096];
  for (ssize_t got; head.find("\r\n\r\n") == std::string::npos; head.append(buffer, got)) {
    if ((got = recv(client, buffer, sizeof buffer, 0)) <= 0) return;
  }
  std::unique_lock<std::mutex> lock(mutex_);
  ++requests_;
  bool sent = send(client, reply_.data(), reply_.size(), MSG_NOSIGNAL) >= 0;
  for (size_t released = releases_; hold_ && sent; released = releases_) {
    changed_.wait(lock, [&] { return stopping_ || releases_ > released; });
    sent = !stopping_ && send(client, drip_.data(), drip_.size(), MSG_NOSIGNAL) >= 0;
  }
  if (!hold_) shutdown(client, SHUT_RDWR);
}

std::string RawHttpServer::Url(const std::string& path) const { return LoopbackUrl(port_, path); }

void RawHttpServer::Release() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++releases_;
  }
  changed_.notify_all();
}

size_t RawHttpServer::RequestCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

}  // namespace net_test
