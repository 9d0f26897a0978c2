// The machine's network addresses.
#pragma once
#include <cstdint>
#include <string>

namespace platform {

// The IPv4 addresses of the machine's interfaces that are up, loopback left out, in interface
// order and joined by ";" ("192.168.1.20;10.0.0.5"); empty when there are none.
std::string LocalIpv4AddressList();

// A TCP port of 127.0.0.1 that the system had free a moment ago; 0 when none could be had.
int FreeLoopbackTcpPort();

}  // namespace platform
