#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "engine/net/qsocket.h"
#include "platform/winsock_codes.h"
#include "tests/engine/net/fake_stream_transport.h"
#include "tests/engine/net/loopback.h"

namespace {
const uint8_t kTag[8] = {0, 0, 10, 0, 0, 7, 0x1F, 0x90};

std::string SentText(const FakeStreamTransport &transport)
{
    return transport.sent;
}
} // namespace

TEST(QSocketOverUdp, FailsCleanlyWhileNoTransportRuns)
{
    SetStreamTransport(nullptr);
    QSocket socket;
    EXPECT_FALSE(socket.Connect(Loopback(), 7000, false, 0, kTag));
    EXPECT_FALSE(socket.HasHandle());
    EXPECT_EQ(socket.LastError(), static_cast<uint32_t>(platform::WSAENETUNREACH));
    EXPECT_FALSE(socket.Listen(7000, 0, kTag));
    EXPECT_FALSE(socket.HasHandle());
    EXPECT_EQ(socket.LastError(), static_cast<uint32_t>(platform::WSAENETUNREACH));
}

TEST(QSocketOverUdp, BuffersUntilEstablishedThenSendsTheBufferFirst)
{
    FakeStreamTransport transport;
    TransportRegistered registered(&transport);
    QSocket socket;
    ASSERT_TRUE(socket.Connect(Loopback(), 7000, false, HostToNetwork32(0x0A000001), kTag));
    EXPECT_TRUE(socket.IsOverUdp());
    EXPECT_EQ(std::memcmp(transport.connectedTo.padding, kTag, 8), 0);
    EXPECT_EQ(transport.connectedTo.port, 7000);
    EXPECT_EQ(transport.boundTo.ip, 0u); // no bind over UDP

    EXPECT_FALSE(socket.IsConnected());
    EXPECT_EQ(socket.Receive(), 0); // not -1: the connection is still coming
    EXPECT_EQ(socket.Send("abc", 3), 0);
    EXPECT_EQ(socket.SendLength(), 3);
    EXPECT_TRUE(SentText(transport).empty());

    transport.established = true;
    // As much of the buffer as the new data's length goes first; the new
    // data waits behind what is left.
    EXPECT_EQ(socket.Send("de", 2), 2);
    EXPECT_EQ(SentText(transport), "ab");
    EXPECT_STREQ(socket.SendBuffer().Text(), "cde");
    EXPECT_EQ(socket.Flush(), 3);
    EXPECT_EQ(SentText(transport), "abcde");
    EXPECT_EQ(socket.SentBytes(), 5u);
    EXPECT_EQ(socket.LocalPort(), 7000u);
    EXPECT_EQ(std::memcmp(socket.AddressTag(), "IDENTITYUDP\0\0", QSocket::kTagSize), 0);
}

TEST(QSocketOverUdp, AFullWindowTakesNothingAndKeepsTheConnection)
{
    FakeStreamTransport transport;
    TransportRegistered registered(&transport);
    QSocket socket;
    ASSERT_TRUE(socket.Connect(Loopback(), 7000, false, 0, kTag));
    transport.established = true;
    transport.sendRoom = 4;
    EXPECT_EQ(socket.Send("0123456789", 10), 4);
    EXPECT_EQ(socket.SendLength(), 6);
    EXPECT_EQ(socket.Send("xyz", 3), 0);
    EXPECT_TRUE(socket.HasHandle());
    EXPECT_STREQ(socket.SendBuffer().Text(), "456789xyz");
    EXPECT_EQ(socket.LastError(), static_cast<uint32_t>(platform::WSAEWOULDBLOCK));
}

TEST(QSocketOverUdp, AFatalOrImpossibleSendClosesTheSocket)
{
    FakeStreamTransport transport;
    TransportRegistered registered(&transport);
    QSocket socket;
    ASSERT_TRUE(socket.Connect(Loopback(), 7000, false, 0, kTag));
    transport.established = true;
    transport.sendResult = -1;
    transport.sendError = platform::WSAENOTCONN;
    EXPECT_EQ(socket.Send("abc", 3), -1);
    EXPECT_FALSE(socket.HasHandle());
    EXPECT_EQ(socket.LastError(), static_cast<uint32_t>(platform::WSAENOTCONN));
    EXPECT_TRUE(transport.open.empty());

    ASSERT_TRUE(socket.Connect(Loopback(), 7000, false, 0, kTag));
    transport.sendResult = 4; // more than offered
    EXPECT_EQ(socket.Send("abc", 3), -1);
    EXPECT_FALSE(socket.HasHandle());
}

TEST(QSocketOverUdp, TheReceiveBufferGrowsByTheRequestTheOldCapacityAndTwoKilobytes)
{
    FakeStreamTransport transport;
    TransportRegistered registered(&transport);
    QSocket socket;
    ASSERT_TRUE(socket.Connect(Loopback(), 7000, false, 0, kTag));
    transport.established = true;
    transport.incoming = "hello";
    EXPECT_EQ(socket.Receive(100), 5);
    EXPECT_EQ(socket.ReceiveBuffer().Capacity(), 100 + 2048);
    transport.incoming = " world";
    EXPECT_EQ(socket.Receive(), 11);
    EXPECT_EQ(socket.ReceiveBuffer().Capacity(), QSocket::kDefaultReceive + 2148 + 2048);
    EXPECT_STREQ(socket.ReceiveBuffer().Text(), "hello world");
    EXPECT_EQ(socket.Receive(), 0); // nothing new
    transport.remoteClosed = true;
    EXPECT_EQ(socket.Receive(), -1);
    EXPECT_FALSE(socket.HasHandle());
}

TEST(QSocketOverUdp, ListenersUseTheLargeBacklogAndSurviveAcceptErrors)
{
    FakeStreamTransport transport;
    TransportRegistered registered(&transport);
    QSocket listener;
    ASSERT_TRUE(listener.Listen(7000, HostToNetwork32(0x0A000001), kTag));
    EXPECT_EQ(transport.backlog, 1024);
    EXPECT_EQ(std::memcmp(transport.boundTo.padding, kTag, 8), 0);
    EXPECT_EQ(transport.boundTo.ip, HostToNetwork32(0x0A000001));
    EXPECT_EQ(listener.LocalAddress(), HostToNetwork32(0x0A000001));
    transport.acceptError = platform::WSAENOTSOCK;
    EXPECT_EQ(listener.Accept(), nullptr);
    EXPECT_TRUE(listener.IsListening());
    listener.SetReceiveBufferSize(40960);
    EXPECT_EQ(transport.receiveBufferCalls, 0);
}
