#pragma once
#include <cstdint>
#include <vector>

namespace platform {

// The IPv4 addresses (network order) of the interfaces that are up and are
// not loopback, in the order the system lists them.
std::vector<uint32_t> UpInterfaceIpv4Addresses();

} // namespace platform
