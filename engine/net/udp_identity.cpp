#include "engine/net/udp_identity.h"

#include <cstring>

namespace {
constexpr uint8_t kSuffix[4] = {'U', 'D', 'P', '0'};
}

TUdpIdentity MakeUdpIdentity(const uint8_t *random8)
{
    TUdpIdentity identity{};
    std::memcpy(identity.data(), random8, kUdpTagBytes);
    if (identity[0] == 0)
        identity[0] = 1;
    if (identity[1] == 0)
        identity[1] = 2;
    std::memcpy(identity.data() + kUdpTagBytes, kSuffix, sizeof kSuffix);
    return identity;
}

TUdpTag UdpIdentityTag(const TUdpIdentity &identity)
{
    TUdpTag tag{};
    std::memcpy(tag.data(), identity.data(), kUdpTagBytes);
    return tag;
}

TUdpIdentity UdpIdentityOfTag(const TUdpTag &tag)
{
    TUdpIdentity identity{};
    std::memcpy(identity.data(), tag.data(), kUdpTagBytes);
    std::memcpy(identity.data() + kUdpTagBytes, kSuffix, sizeof kSuffix);
    return identity;
}

TUdpTag UdpAddressTag(uint32_t ipv4, uint16_t port)
{
    TUdpTag tag{};
    std::memcpy(tag.data() + 2, &ipv4, 4);
    tag[6] = static_cast<uint8_t>(port >> 8);
    tag[7] = static_cast<uint8_t>(port);
    return tag;
}

bool IsUdpAddressTag(const TUdpTag &tag)
{
    return tag[0] == 0 && tag[1] == 0;
}

uint32_t UdpAddressTagIpv4(const TUdpTag &tag)
{
    uint32_t ipv4 = 0;
    std::memcpy(&ipv4, tag.data() + 2, 4);
    return ipv4;
}

uint16_t UdpAddressTagPort(const TUdpTag &tag)
{
    return static_cast<uint16_t>(tag[6] << 8 | tag[7]);
}
