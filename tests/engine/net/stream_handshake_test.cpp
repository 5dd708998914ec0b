#include <gtest/gtest.h>

#include <cstring>

#include "engine/net/bt_wire.h"
#include "platform/winsock_codes.h"
#include "tests/engine/net/stream_pipe.h"

namespace {
int32_t StartListener(QStreamSockets &sockets, int32_t port)
{
    int32_t listener = sockets.Socket();
    TSockAddr bind;
    bind.port = static_cast<uint16_t>(port);
    EXPECT_EQ(sockets.Bind(listener, bind), 0);
    EXPECT_EQ(sockets.Listen(listener, 32), 0);
    return listener;
}

// A connect as host 0x33.. would send it to b.
std::vector<uint8_t> ForgedConnect(const PipeEnd &target, uint32_t connectionId, uint32_t attempt,
                                   uint32_t sequence = 1, int32_t servicePort = 7000)
{
    TStreamPacket packet;
    packet.connectionId = connectionId;
    packet.sequence = sequence;
    packet.type = STREAM_CONNECT;
    std::memcpy(packet.identity, target.sockets.Identity(), 8);
    std::memcpy(packet.identity + 8, "UDP0", 4);
    packet.SetField(32, static_cast<uint32_t>(servicePort));
    const uint8_t requester[12] = {0x33, 2, 3, 4, 5, 6, 7, 8, 'U', 'D', 'P', '0'};
    std::memcpy(packet.fields + 4, requester, 12);
    packet.SetField(48, static_cast<uint32_t>(servicePort));
    packet.SetField(60, attempt);
    return EncodeStreamPacket(packet);
}

size_t CountType(const std::deque<TPipeDatagram> &sent, uint32_t type)
{
    size_t count = 0;
    for (const TPipeDatagram &datagram : sent)
        count += ReadBigEndian32(datagram.bytes.data() + 16) == type ? 1 : 0;
    return count;
}

constexpr uint32_t kSpoofer = 0x0909090A;
} // namespace

TEST(StreamHandshake, ConnectEstablishesBothSidesAndAcceptHandsOutThePeer)
{
    StreamPipe pipe;
    auto [client, server] = pipe.Connect();
    ASSERT_GT(client, 0);
    EXPECT_EQ(pipe.a.sockets.PendingError(client), 0);
    TSockAddr local;
    ASSERT_EQ(pipe.a.sockets.GetSockName(client, &local), 0);
    EXPECT_EQ(local.port, 7000);
    EXPECT_EQ(std::memcmp(local.padding, pipe.a.sockets.Identity(), 8), 0);
    EXPECT_GE(pipe.b.punchDrops, 1); // a connect clears the requester's punches
}

TEST(StreamHandshake, NoListenerMeansRefusedAndAnUnansweredIntroductionTimesOut)
{
    StreamPipe pipe;
    int32_t client = pipe.a.sockets.Socket();
    TSockAddr to;
    to.ip = pipe.b.ip;
    to.port = 7100;
    std::memcpy(to.padding, pipe.b.sockets.Identity(), 8);
    EXPECT_EQ(pipe.a.sockets.Connect(client, to), -1);
    EXPECT_EQ(pipe.a.sockets.LastError(), platform::WSAEWOULDBLOCK);
    EXPECT_EQ(pipe.a.sockets.Connect(client, to), -1);
    EXPECT_EQ(pipe.a.sockets.LastError(), platform::WSAEINTR);
    pipe.a.sockets.Introduced(pipe.b.sockets.Identity(), pipe.b.ip, pipe.b.port);
    pipe.Deliver(); // connect → refuse
    pipe.Deliver();
    EXPECT_EQ(pipe.a.sockets.Ready(client, TWaitFor::Write), 1);
    EXPECT_EQ(pipe.a.sockets.PendingError(client), platform::WSAECONNREFUSED);

    // An identity the rendezvous server never answers for: 30 s, then 10060.
    int32_t lost = pipe.a.sockets.Socket();
    to.padding[0] = 0x77;
    pipe.a.sockets.Connect(lost, to);
    for (int round = 0; round < 10; ++round) {
        pipe.Advance(3001);
        pipe.a.sockets.ConnectionTimers();
    }
    EXPECT_EQ(pipe.a.sockets.PendingError(lost), platform::WSAETIMEDOUT);
    EXPECT_GE(pipe.a.introductions.size(), 10u); // re-asked every 3 s
}

TEST(StreamHandshake, RepeatedNewerAndOlderConnectAttempts)
{
    StreamPipe pipe;
    StartListener(pipe.b.sockets, 7000);
    auto connect = ForgedConnect(pipe.b, 0xABCDEF01, 5000);
    pipe.b.sockets.HandleDatagram(connect.data(), connect.size(), kSpoofer, 4000);
    pipe.b.sockets.HandleDatagram(connect.data(), connect.size(), kSpoofer, 4000);
    EXPECT_EQ(pipe.b.sockets.SocketCount(), 2u); // listener + one half-open
    EXPECT_EQ(CountType(pipe.b.outbox, STREAM_ACCEPT), 2u);

    auto older = ForgedConnect(pipe.b, 0xABCDEF01, 4000, 2);
    pipe.b.sockets.HandleDatagram(older.data(), older.size(), kSpoofer, 4000);
    EXPECT_EQ(pipe.b.sockets.SocketCount(), 2u);
    EXPECT_EQ(CountType(pipe.b.outbox, STREAM_ACCEPT), 2u);

    // A newer attempt (also across the wrap of the counter) replaces it.
    auto newer = ForgedConnect(pipe.b, 0xABCDEF01, 5001, 3);
    pipe.b.sockets.HandleDatagram(newer.data(), newer.size(), kSpoofer, 4000);
    EXPECT_EQ(pipe.b.sockets.SocketCount(), 2u);
    EXPECT_EQ(CountType(pipe.b.outbox, STREAM_ACCEPT), 4u);
    EXPECT_TRUE(IsNewerAttempt(5, 0xFFFFFFF0u));
    EXPECT_FALSE(IsNewerAttempt(0xFFFFFFF0u, 5));
}

TEST(StreamHandshake, ASpoofedConnectEarnsTwoAcceptsAndOneSourceAtMostEightHalfOpen)
{
    StreamPipe pipe;
    StartListener(pipe.b.sockets, 7000);
    auto connect = ForgedConnect(pipe.b, 0x10203040, 77);
    pipe.b.sockets.HandleDatagram(connect.data(), connect.size(), kSpoofer, 4000);
    for (int round = 0; round < 5; ++round) {
        pipe.Advance(3001);
        pipe.b.sockets.ConnectionTimers();
    }
    EXPECT_EQ(CountType(pipe.b.outbox, STREAM_ACCEPT), 2u);
    // A real requester repeats its connect each round, and gets the accept again.
    pipe.b.sockets.HandleDatagram(connect.data(), connect.size(), kSpoofer, 4000);
    pipe.Advance(3001);
    pipe.b.sockets.ConnectionTimers();
    EXPECT_EQ(CountType(pipe.b.outbox, STREAM_ACCEPT), 3u);
    pipe.Advance(30000);
    pipe.b.sockets.ConnectionTimers();
    EXPECT_EQ(pipe.b.sockets.SocketCount(), 1u); // half-open dropped after the time-out

    for (uint32_t id = 1; id <= 12; ++id) {
        auto each = ForgedConnect(pipe.b, id, 77);
        pipe.b.sockets.HandleDatagram(each.data(), each.size(), kSpoofer, 4000 + static_cast<int32_t>(id));
    }
    EXPECT_EQ(pipe.b.sockets.SocketCount(), 1u + QStreamSockets::kHalfOpenPerSource);
}

TEST(StreamHandshake, AcceptMustEchoOurAttemptAndConnectionId)
{
    StreamPipe pipe;
    StartListener(pipe.b.sockets, 7000);
    int32_t client = pipe.StartConnect(7000);
    QUSocket *socket = pipe.a.sockets.Find(client);
    // An off-path accept echoing attempt 0 for the right connection id.
    TStreamPacket accept;
    accept.connectionId = 0x5555;
    accept.sequence = 1;
    accept.type = STREAM_ACCEPT;
    std::memcpy(accept.identity, pipe.a.sockets.Identity(), 12);
    std::memcpy(accept.fields + 4, pipe.a.sockets.Identity(), 12);
    accept.SetField(48, 7000);
    accept.SetField(56, 0);
    accept.SetField(60, socket->localConnectionId);
    auto forged = EncodeStreamPacket(accept);
    pipe.a.sockets.HandleDatagram(forged.data(), forged.size(), pipe.b.ip, pipe.b.port);
    EXPECT_EQ(socket->state, STREAM_CONNECTING);
    accept.SetField(56, socket->attempt);
    forged = EncodeStreamPacket(accept);
    pipe.a.sockets.HandleDatagram(forged.data(), forged.size(), kSpoofer, pipe.b.port);
    EXPECT_EQ(socket->state, STREAM_CONNECTING); // wrong source
    // Foreign identity in bytes 20-27: dropped before anything else.
    accept.identity[0] ^= 1;
    forged = EncodeStreamPacket(accept);
    pipe.a.sockets.HandleDatagram(forged.data(), forged.size(), pipe.b.ip, pipe.b.port);
    EXPECT_EQ(socket->state, STREAM_CONNECTING);
}

TEST(StreamHandshake, LostAcceptAcknowledgementsAreMadeUpForByTheFirstData)
{
    StreamPipe pipe;
    int32_t listener = StartListener(pipe.b.sockets, 7000);
    int32_t client = pipe.StartConnect(7000);
    pipe.Deliver();          // connect → accepts
    pipe.Deliver();          // accepts → established, accept acks
    pipe.a.outbox.clear();   // both acknowledgements lost
    const uint8_t byte = 'q';
    ASSERT_EQ(pipe.a.sockets.Send(client, &byte, 1), 1);
    pipe.Deliver();
    TSockAddr peer;
    int32_t accepted = pipe.b.sockets.Accept(listener, &peer);
    ASSERT_GT(accepted, 0);
    uint8_t out = 0;
    EXPECT_EQ(pipe.b.sockets.Recv(accepted, &out, 1), 1);
    EXPECT_EQ(out, 'q');
}
