// The loopback TCP helpers: a free port really is free, and the probe tells a listening port
// from a closed one.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <set>

#include "platform/network.h"

namespace {

// A listening socket on 127.0.0.1:port; -1 when it could not be bound.
int Listen(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(fd, 4) != 0) {
    if (fd >= 0) close(fd);
    return -1;
  }
  return fd;
}

TEST(LoopbackTcpTest, FreePortCanBeBoundAndProbeFollowsTheListener) {
  const int port = platform::FreeLoopbackTcpPort();
  ASSERT_GT(port, 0);
  EXPECT_FALSE(platform::LoopbackTcpAccepts(port, 1000));

  const int listener = Listen(port);
  ASSERT_GE(listener, 0) << "the free port could not be bound";
  EXPECT_TRUE(platform::LoopbackTcpAccepts(port, 1000));
  close(listener);
  EXPECT_FALSE(platform::LoopbackTcpAccepts(port, 1000));
}

TEST(LoopbackTcpTest, PortsOutOfRangeAreNeverAccepted) {
  EXPECT_FALSE(platform::LoopbackTcpAccepts(0, 100));
  EXPECT_FALSE(platform::LoopbackTcpAccepts(70000, 100));
}

}  // namespace
