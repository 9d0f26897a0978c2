// "Pipes" in message mode: local sequenced-packet sockets named in the process user's pipe
// directory (locations.h), so every send arrives as one whole message.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

class LocalMessageSocket {
 public:
  LocalMessageSocket() = default;
  ~LocalMessageSocket();
  LocalMessageSocket(const LocalMessageSocket&) = delete;
  LocalMessageSocket& operator=(const LocalMessageSocket&) = delete;

  // Connects to the pipe `name`: 2 when nobody listens, 231 when the listener's queue is full.
  bool Connect(const std::string& name);
  bool Send(const void* data, size_t size);
  // Receives the next whole message; 109 when the peer has gone.
  bool Receive(std::vector<uint8_t>& message);
  void Close();
  bool IsOpen() const { return fd_ >= 0; }

 private:
  friend class LocalMessageListener;
  int fd_ = -1;
};

class LocalMessageListener {
 public:
  LocalMessageListener() = default;
  ~LocalMessageListener();
  LocalMessageListener(const LocalMessageListener&) = delete;
  LocalMessageListener& operator=(const LocalMessageListener&) = delete;

  // Creates the pipe `name` (replacing a stale one) with room for `backlog` waiting clients.
  bool Listen(const std::string& name, int backlog);
  // Waits for the next client.
  bool Accept(LocalMessageSocket& connection);
  // Stops listening and removes the name.
  void Close();

 private:
  int fd_ = -1;
  std::string path_;
};

}  // namespace platform
