#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// Asks the system (getaddrinfo, IPv4 only) for the addresses of a host name.
// Appends them, in network order and in the order the system gave them, and
// returns 0, or the Winsock number of the failure (11001 host not found ...).
int32_t LookupIpv4(const std::string &host, std::vector<uint32_t> &addresses);

// The DNS servers this host uses, in order, from /etc/resolv.conf.
std::vector<std::string> DnsServers();
// The "nameserver" entries of a resolv.conf text.
std::vector<std::string> ParseNameServers(const std::string &text);

} // namespace platform
