#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// The IPv4 addresses (network order) of the interfaces that are up and are
// not loopback, in the order the system lists them.
std::vector<uint32_t> UpInterfaceIpv4Addresses();

// Addresses that are not reachable from the Internet: first octet 0 to 6, 10
// or 127, and 192.168/16, 169.254/16, 172.16/12. Takes network order. The
// engine's choice of address and the port mapping share this one rule.
bool IsPrivateAddress(uint32_t networkOrder);

// "a.b.c.d" of an address in network order.
std::string Ipv4Text(uint32_t networkOrder);

} // namespace platform
