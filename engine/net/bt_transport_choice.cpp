#include "engine/net/bt_transport_choice.h"

#include <cstring>

#include "engine/base/zero_bytes.h"
#include "engine/net/peer_id.h"

namespace {
constexpr size_t kIdentityAt = 8;
constexpr size_t kAddressFormAt = 12;
constexpr size_t kAddressFormIpv4At = 14;
constexpr int32_t kUdpEvery = 3;
} // namespace

TUdpTag UdpTagOf(const TPeerId &address)
{
    const uint8_t *id = address.peerId.data();
    TUdpTag tag{};
    if (AllZeroBytes(id, address.peerId.size()))
        return UdpAddressTag(address.address, static_cast<uint16_t>(address.port));
    const bool addressForm =
        AllZeroBytes(id, kAddressFormIpv4At) && std::memcmp(id + kAddressFormIpv4At, &address.address, 4) == 0;
    std::memcpy(tag.data(), id + (addressForm ? kAddressFormAt : kIdentityAt), tag.size());
    return tag;
}

std::optional<TUdpTag> UdpDialTag(const TPeerId &address, bool wantsUdp)
{
    if (!wantsUdp || address.origin > kUdpDialMaxOrigin || address.attempts % kUdpEvery != 0)
        return std::nullopt;
    return UdpTagOf(address);
}
