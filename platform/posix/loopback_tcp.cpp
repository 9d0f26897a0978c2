// Loopback TCP helpers: a free port and a bounded connect probe.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "platform/network.h"

namespace platform {
namespace {

sockaddr_in LoopbackAddress(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

// Closes the descriptor when it goes out of scope.
struct SocketCloser {
  int fd;
  ~SocketCloser() {
    if (fd >= 0) close(fd);
  }
};

}  // namespace

int FreeLoopbackTcpPort() {
  const SocketCloser socket{::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)};
  if (socket.fd < 0) return 0;
  sockaddr_in address = LoopbackAddress(0);
  if (bind(socket.fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return 0;
  socklen_t length = sizeof address;
  if (getsockname(socket.fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
  return ntohs(address.sin_port);
}

bool LoopbackTcpAccepts(int port, uint32_t timeoutMs) {
  if (port <= 0 || port > 65535) return false;
  const SocketCloser socket{::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0)};
  if (socket.fd < 0) return false;
  const sockaddr_in address = LoopbackAddress(port);
  if (connect(socket.fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
    return true;
  }
  if (errno != EINPROGRESS) return false;
  pollfd entry{socket.fd, POLLOUT, 0};
  int ready = 0;
  do {
    ready = poll(&entry, 1, static_cast<int>(timeoutMs));
  } while (ready < 0 && errno == EINTR);
  if (ready <= 0) return false;
  int error = 0;
  socklen_t length = sizeof error;
  return getsockopt(socket.fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
}

}  // namespace platform
