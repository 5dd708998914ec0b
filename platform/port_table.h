#pragma once
#include <cstdint>
#include <string_view>

namespace platform {

// Whether a table of the kernel's connection list (/proc/net/tcp, udp and
// their IPv6 twins) has a socket whose local port is port, in any state.
// Lines that do not have the table's form are skipped.
bool PortListedInTable(std::string_view table, uint16_t port);

// Whether any TCP or UDP socket, IPv4 or IPv6, of any process on this
// machine uses port as its local port.
bool IsPortInUse(uint16_t port);

} // namespace platform
