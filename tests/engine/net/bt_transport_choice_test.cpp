#include "engine/net/bt_transport_choice.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "engine/net/ipv4_address.h"
#include "engine/net/peer_id.h"
#include "tests/engine/net/memory_peer_task.h"

namespace {
const uint32_t kAddress = HostToNetwork32(0xC6336406); // 198.51.100.6
constexpr int32_t kPort = 46881;
const uint8_t kIdentity[8] = {0x5A, 0x11, 3, 4, 5, 6, 7, 8};

// A candidate as the pool keeps it, with an engine's peer id: 00 01 'Q' 'l',
// four bytes of its own, then the engine's identity.
std::unique_ptr<TPeerId, Released> EngineAddress()
{
    std::unique_ptr<TPeerId, Released> address(new TPeerId);
    address->kind = PEER_KIND_BT;
    address->address = kAddress;
    address->port = kPort;
    address->origin = 19;
    const uint8_t prefix[8] = {0x00, 0x01, 'Q', 'l', 9, 9, 9, 9};
    std::memcpy(address->peerId.data(), prefix, 8);
    std::memcpy(address->peerId.data() + 8, kIdentity, 8);
    std::memset(address->peerId.data() + 16, 0x77, 4);
    return address;
}

TUdpTag IdentityTag()
{
    TUdpTag tag{};
    std::memcpy(tag.data(), kIdentity, tag.size());
    return tag;
}
} // namespace

TEST(BtTransportChoiceTest, EveryThirdAttemptFromBeyondTheLanGoesOverUdp)
{
    auto address = EngineAddress();
    for (int32_t attempts = 0; attempts < 7; ++attempts) {
        address->attempts = attempts;
        EXPECT_EQ(UdpDialTag(*address, true).has_value(), attempts % 3 == 0) << "attempt " << attempts;
    }
    address->attempts = 0;
    EXPECT_FALSE(UdpDialTag(*address, false)) << "without a public address, or once reachable from outside";
    address->origin = 35;
    EXPECT_FALSE(UdpDialTag(*address, true)) << "a LAN address is dialled directly";
    address->origin = 34;
    ASSERT_TRUE(UdpDialTag(*address, true));
    EXPECT_EQ(*UdpDialTag(*address, true), IdentityTag());
}

TEST(BtTransportChoiceTest, TheTagIsTheIdentityOrTheAddressForm)
{
    auto address = EngineAddress();
    EXPECT_EQ(UdpTagOf(*address), IdentityTag()) << "peer-id bytes 8..15";

    // A peer known only by its address, as the pool records a compact
    // tracker entry: zeros, then the IPv4 and the port.
    address->peerId.fill(0);
    std::memcpy(address->peerId.data() + 14, &kAddress, 4);
    address->peerId[18] = kPort >> 8;
    address->peerId[19] = kPort & 0xFF;
    EXPECT_EQ(UdpTagOf(*address), UdpAddressTag(kAddress, kPort));

    // The same bytes where the id does not begin with zeros are an id.
    address->peerId[3] = 'l';
    TUdpTag fromId{};
    std::memcpy(fromId.data(), address->peerId.data() + 8, 8);
    EXPECT_EQ(UdpTagOf(*address), fromId);

    // Another address than the one in the id: the id's bytes 8..15.
    address->peerId[3] = 0;
    address->address = HostToNetwork32(0xC6336407);
    std::memcpy(fromId.data(), address->peerId.data() + 8, 8);
    EXPECT_EQ(UdpTagOf(*address), fromId);

    // No id at all (a peer named on the command line): its address.
    address->peerId.fill(0);
    EXPECT_EQ(UdpTagOf(*address), UdpAddressTag(address->address, kPort));
}
