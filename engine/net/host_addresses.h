#pragma once
#include <cstdint>
#include <set>
#include <string>

// Turns the host of a peer URL into its addresses (network order), waiting at
// most 3 s for a name. Returns the number of addresses found, 0 for malformed
// numeric text, -1 when the name could not be resolved. The first failure
// after a success (or since start) is reported with a DNS diagnostic.
int32_t HostToAddresses(const std::string &host, std::set<uint32_t> &addresses);
