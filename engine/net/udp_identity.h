#pragma once
#include <array>
#include <cstddef>
#include <cstdint>

// How hosts name each other on the UDP transport. An identity is 8 random
// bytes and "UDP0"; other hosts learn the 8 bytes from the BitTorrent peer id.
// A tag names the target of a connect: an identity's 8 bytes, or, when only
// the address is known, the address form 00 00, IPv4, port. An identity never
// begins 00 00, so the two forms cannot be confused.
constexpr size_t kUdpIdentityBytes = 12;
constexpr size_t kUdpTagBytes = 8;

using TUdpIdentity = std::array<uint8_t, kUdpIdentityBytes>;
using TUdpTag = std::array<uint8_t, kUdpTagBytes>;

// The identity for these 8 random bytes: byte 0 becomes 1 and byte 1 becomes
// 2 where they are 0, then "UDP0" follows.
TUdpIdentity MakeUdpIdentity(const uint8_t *random8);

// The tag naming this identity (its first 8 bytes).
TUdpTag UdpIdentityTag(const TUdpIdentity &identity);
// The identity whose tag this is (identity form only).
TUdpIdentity UdpIdentityOfTag(const TUdpTag &tag);

// ipv4 in network order, port in host order.
TUdpTag UdpAddressTag(uint32_t ipv4, uint16_t port);
bool IsUdpAddressTag(const TUdpTag &tag);
uint32_t UdpAddressTagIpv4(const TUdpTag &tag);
uint16_t UdpAddressTagPort(const TUdpTag &tag);
