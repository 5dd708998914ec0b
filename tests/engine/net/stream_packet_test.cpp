#include <gtest/gtest.h>

#include <vector>

#include "engine/net/bt_wire.h"
#include "engine/net/stream_packet.h"

namespace {
std::vector<uint8_t> Data(uint32_t connectionId, int32_t payloadLength)
{
    TStreamPacket packet;
    packet.connectionId = connectionId;
    packet.type = STREAM_DATA;
    packet.SetField(36, 9);
    std::vector<uint8_t> payload(static_cast<size_t>(payloadLength), 'p');
    return EncodeStreamPacket(packet, payload.data(), payloadLength);
}

// Rewrites the checksum after a deliberate change, so only the change is tested.
void Reseal(std::vector<uint8_t> &datagram)
{
    const uint32_t seed = ReadBigEndian32(datagram.data() + 8);
    uint32_t a = (seed & 0xFFFF) % 65521;
    uint32_t b = (seed >> 16) % 65521;
    for (size_t i = 32; i < datagram.size(); ++i) {
        a = (a + datagram[i]) % 65521;
        b = (b + a) % 65521;
    }
    WriteBigEndian32(datagram.data() + 4, (b << 16) | a);
}
} // namespace

TEST(StreamPacket, DataRoundTripsAndTheChecksumIsSeededByTheConnection)
{
    auto datagram = Data(0xDEADBEEF, 1320);
    TStreamPacket parsed;
    ASSERT_TRUE(ParseStreamPacket(datagram.data(), datagram.size(), parsed));
    EXPECT_EQ(parsed.payloadLength, 1320);
    EXPECT_EQ(parsed.Field(36), 9u);
    EXPECT_EQ(parsed.payload, datagram.data() + 64);
    // The same bytes under another connection id fail the checksum.
    WriteBigEndian32(datagram.data() + 8, 0xDEADBEEE);
    EXPECT_FALSE(ParseStreamPacket(datagram.data(), datagram.size(), parsed));
    Reseal(datagram);
    EXPECT_TRUE(ParseStreamPacket(datagram.data(), datagram.size(), parsed));
}

TEST(StreamPacket, RejectsWrongLengthsZeroConnectionAndBadPayloadCounts)
{
    TStreamPacket parsed;
    auto datagram = Data(7, 100);
    EXPECT_FALSE(ParseStreamPacket(datagram.data(), datagram.size() - 1, parsed)); // length field ≠ size
    EXPECT_FALSE(ParseStreamPacket(datagram.data(), 63, parsed));

    auto zero = Data(7, 0);
    EXPECT_TRUE(ParseStreamPacket(zero.data(), zero.size(), parsed));
    WriteBigEndian32(zero.data() + 8, 0);
    Reseal(zero);
    EXPECT_FALSE(ParseStreamPacket(zero.data(), zero.size(), parsed));

    for (uint32_t announced : {99u, 101u, 0xFFFFFFFFu, 8129u}) {
        auto lying = Data(7, 100);
        WriteBigEndian32(lying.data() + 32, announced);
        Reseal(lying);
        EXPECT_FALSE(ParseStreamPacket(lying.data(), lying.size(), parsed)) << announced;
    }
    auto largest = Data(7, kStreamMaxPayload);
    EXPECT_TRUE(ParseStreamPacket(largest.data(), largest.size(), parsed));

    // Control packets carry nothing past the header.
    TStreamPacket ack;
    ack.connectionId = 7;
    ack.type = STREAM_ACK;
    auto control = EncodeStreamPacket(ack);
    EXPECT_TRUE(ParseStreamPacket(control.data(), control.size(), parsed));
    control.push_back(0);
    WriteBigEndian32(control.data(), 65);
    Reseal(control);
    EXPECT_FALSE(ParseStreamPacket(control.data(), control.size(), parsed));
}
