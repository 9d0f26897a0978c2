// The machine's network addresses.
#pragma once
#include <string>

namespace platform {

// The IPv4 addresses of the machine's interfaces that are up, loopback left out, in interface
// order and joined by ";" ("192.168.1.20;10.0.0.5"); empty when there are none.
std::string LocalIpv4AddressList();

}  // namespace platform
