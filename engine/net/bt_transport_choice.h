#pragma once
// Which transport a dialled BitTorrent connection takes. Two attempts in
// three go over TCP; the others, while this host has a public address it is
// not reachable at from outside, go over the UDP stream transport, which
// crosses NAT routers. Addresses found on the local network are reached
// directly and always over TCP.
#include <cstdint>
#include <optional>

#include "engine/net/udp_identity.h"

class TPeerId;

// Highest origin dialled over the UDP transport; LAN announcements rank
// above it.
constexpr int32_t kUdpDialMaxOrigin = 34;

// The tag naming the address's host on the UDP transport: peer-id bytes
// 8..15, where an engine of ours carries its identity, or bytes 12..19 when
// the id is the address form the pool writes for an address known without a
// peer id (zeros, then the IPv4 and port). An id that is all zero names
// nothing, so the address form is made from the address.
TUdpTag UdpTagOf(const TPeerId &address);

// The tag to dial with when this attempt (the address's count of attempts
// so far) goes over the UDP transport; none for TCP.
std::optional<TUdpTag> UdpDialTag(const TPeerId &address, bool wantsUdp);
