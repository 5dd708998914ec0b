#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/winsock_codes.h"
#include "tests/engine/net/stream_pipe.h"

namespace {
// Data as the client would send it, with any data sequence.
std::vector<uint8_t> DataPacket(StreamPipe &pipe, int32_t client, uint32_t sequence, uint8_t fill)
{
    QUSocket *from = pipe.a.sockets.Find(client);
    TStreamPacket packet;
    packet.connectionId = from->remoteConnectionId;
    packet.sequence = 1;
    packet.type = STREAM_DATA;
    std::memcpy(packet.identity, from->remoteIdentity, 12);
    packet.SetField(36, sequence);
    std::vector<uint8_t> payload(100, fill);
    return EncodeStreamPacket(packet, payload.data(), 100);
}

std::vector<uint8_t> AckPacket(StreamPipe &pipe, int32_t server, uint32_t next, int flaggedSlot)
{
    QUSocket *from = pipe.b.sockets.Find(server);
    TStreamPacket packet;
    packet.connectionId = from->remoteConnectionId;
    packet.sequence = 1;
    packet.type = STREAM_ACK;
    std::memcpy(packet.identity, from->remoteIdentity, 12);
    packet.SetField(36, next);
    if (flaggedSlot >= 0)
        packet.fields[8 + flaggedSlot] = 1;
    return EncodeStreamPacket(packet);
}
} // namespace

TEST(StreamWindow, ReceiveSlotsCountFromTheNextExpectedSequence)
{
    StreamPipe pipe;
    auto [client, server] = pipe.Connect();
    ASSERT_GT(client, 0);
    QUSocket *receiver = pipe.b.sockets.Find(server);
    auto far = DataPacket(pipe, client, 12, 'f');
    pipe.b.sockets.HandleDatagram(far.data(), far.size(), pipe.a.ip, pipe.a.port);
    EXPECT_EQ(receiver->bytesReceived, 0u); // 12 ahead: dropped
    auto near = DataPacket(pipe, client, 11, 'n');
    pipe.b.sockets.HandleDatagram(near.data(), near.size(), pipe.a.ip, pipe.a.port);
    EXPECT_EQ(receiver->bytesReceived, 100u); // 11 ahead: stored
    // Far behind (a sequence from before a wrap): acknowledged, not stored.
    auto old = DataPacket(pipe, client, 0x80000001u, 'o');
    pipe.b.sockets.HandleDatagram(old.data(), old.size(), pipe.a.ip, pipe.a.port);
    EXPECT_EQ(receiver->bytesReceived, 100u);
    EXPECT_TRUE(receiver->ackDue);
    for (uint32_t sequence = 0; sequence < 11; ++sequence) {
        auto each = DataPacket(pipe, client, sequence, static_cast<uint8_t>('a' + sequence));
        pipe.b.sockets.HandleDatagram(each.data(), each.size(), pipe.a.ip, pipe.a.port);
    }
    uint8_t out[2000];
    ASSERT_EQ(pipe.b.sockets.Recv(server, out, sizeof out), 1200);
    EXPECT_EQ(out[0], 'a');
    EXPECT_EQ(out[1100], 'n');
}

TEST(StreamWindow, BitmapFreesOneSlotWhichIsNotReusedBeforeTheBasePassesIt)
{
    StreamPipe pipe;
    auto [client, server] = pipe.Connect();
    ASSERT_GT(client, 0);
    QUSocket *sender = pipe.a.sockets.Find(client);
    std::vector<uint8_t> data(20 * 660, 'd');
    ASSERT_EQ(pipe.a.sockets.Send(client, data.data(), static_cast<int32_t>(data.size())),
              static_cast<int32_t>(data.size()));
    EXPECT_EQ(sender->SendCount(), 12);
    pipe.a.outbox.clear(); // the data never arrives

    // Beyond the last sequence sent: ignored whole.
    auto beyond = AckPacket(pipe, server, 13, -1);
    pipe.a.sockets.HandleDatagram(beyond.data(), beyond.size(), pipe.b.ip, pipe.b.port);
    EXPECT_EQ(sender->bytesAcknowledged, 0u);

    auto slotThree = AckPacket(pipe, server, 0, 3);
    pipe.a.sockets.HandleDatagram(slotThree.data(), slotThree.size(), pipe.b.ip, pipe.b.port);
    EXPECT_EQ(sender->bytesAcknowledged, 660u);
    EXPECT_TRUE(sender->SendSlot(3).acknowledged);
    EXPECT_EQ(sender->SendCount(), 12); // base still 0: nothing new went out
    EXPECT_EQ(sender->nextSendSequence, 12u);

    auto firstTwo = AckPacket(pipe, server, 2, -1);
    pipe.a.sockets.HandleDatagram(firstTwo.data(), firstTwo.size(), pipe.b.ip, pipe.b.port);
    EXPECT_EQ(sender->sendBase, 2u);
    EXPECT_EQ(sender->nextSendSequence, 14u); // new data after the last sent
    EXPECT_EQ(sender->bytesAcknowledged, 3u * 660u);
}

TEST(StreamWindow, AReceiverThatStopsReadingHoldsTheSenderWithinItsWindow)
{
    StreamPipe pipe;
    auto [client, server] = pipe.Connect();
    ASSERT_GT(client, 0);
    std::vector<uint8_t> data(600 * 1024);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i * 7 + i / 251);
    size_t sent = 0;
    std::vector<uint8_t> received;
    // No timer runs, so nothing is re-sent: only acknowledgements move the
    // sender on.
    auto pump = [&](bool read) {
        if (sent < data.size()) {
            const auto most = static_cast<int32_t>(std::min<size_t>(64 * 1024, data.size() - sent));
            const int32_t taken = pipe.a.sockets.Send(client, data.data() + sent, most);
            sent += taken > 0 ? static_cast<size_t>(taken) : 0;
        }
        size_t moved = pipe.Deliver();
        uint8_t buffer[64 * 1024];
        for (int32_t got; read && (got = pipe.b.sockets.Recv(server, buffer, sizeof buffer)) > 0; ++moved)
            received.insert(received.end(), buffer, buffer + got);
        return moved;
    };
    for (int round = 0; round < 10000 && pump(false) > 0; ++round) {
    }
    ASSERT_LT(sent, data.size()) << "the receiver's queue should have filled";
    for (int round = 0; round < 10000 && received.size() < data.size(); ++round)
        pump(true);
    ASSERT_EQ(received.size(), data.size()) << "packets the receiver could not take wait for a re-send";
    EXPECT_TRUE(received == data);
    EXPECT_EQ(pipe.a.sockets.Find(client)->retransmissions, 0u);
}

TEST(StreamWindow, LossRateDecidesSendLimitPayloadAndResendsPerPass)
{
    QUSocket socket;
    EXPECT_EQ(socket.LossRate(), 50); // too few sent to tell
    EXPECT_EQ(socket.SendLimit(), 6);
    EXPECT_EQ(socket.PayloadSize(), 660);
    socket.packetsSent = 100;
    socket.retransmissions = 2;
    EXPECT_EQ(socket.SendLimit(), 12);
    EXPECT_EQ(socket.PayloadSize(), 1320);
    // 64-bit counts: a long fast run cannot overflow the percentage.
    socket.packetsSent = 30000000000ull;
    socket.retransmissions = 3000000000ull;
    EXPECT_EQ(socket.LossRate(), 10);
}
