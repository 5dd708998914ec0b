#include "engine/core/incoming_handshake.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>

#include "engine/core/engine_interface.h"
#include "engine/core/engine_state.h"
#include "engine/core/udp_server_slot.h"
#include "engine/net/ipv4_address.h"
#include "engine/net/listening_service.h"
#include "platform/free_port.h"
#include "tests/engine/core/task_harness.h"
#include "tests/engine/net/fake_stream_transport.h"

namespace {

const uint8_t *Bytes(const std::string &text)
{
    return reinterpret_cast<const uint8_t *>(text.data());
}

std::string Handshake(uint8_t hashByte)
{
    std::string bytes("\x13" "BitTorrent protocol", 20);
    bytes.append(8, '\0');
    bytes.append(20, static_cast<char>(hashByte));
    bytes.append("-XX0001-abcdefghijkl");
    return bytes;
}

TEST(DisguiseTest, HeaderEndsAtTheBlankLine)
{
    std::string crlf = "GET / HTTP/1.0\r\nHost: x\r\n\r\nrest";
    EXPECT_EQ(DisguiseLength(Bytes(crlf), static_cast<int32_t>(crlf.size())), static_cast<int32_t>(crlf.size()) - 4);
    std::string lf = "HTTP/1.1 200 OK\nA: b\n\nrest";
    EXPECT_EQ(DisguiseLength(Bytes(lf), static_cast<int32_t>(lf.size())), static_cast<int32_t>(lf.size()) - 4);
    std::string open = "POST /x HTTP/1.1\r\nHost";
    EXPECT_EQ(DisguiseLength(Bytes(open), static_cast<int32_t>(open.size())), -1) << "wait for the rest";
    std::string plain = Handshake(1);
    EXPECT_EQ(DisguiseLength(Bytes(plain), static_cast<int32_t>(plain.size())), 0);
    EXPECT_EQ(DisguiseLength(Bytes("GE"), 2), 0) << "a partial method is no disguise";
    EXPECT_EQ(DisguiseLength(nullptr, 0), 0);
}

TEST(DisguiseTest, HandshakeNamesItsHashOnlyWhenComplete)
{
    std::string bytes = Handshake(7);
    const uint8_t *hash = HandshakeInfoHash(Bytes(bytes), static_cast<int32_t>(bytes.size()));
    ASSERT_NE(hash, nullptr);
    EXPECT_EQ(hash[0], 7);
    EXPECT_EQ(HandshakeInfoHash(Bytes(bytes), kHandshakeHashEnd - 1), nullptr);
    bytes[5] = 'X';
    EXPECT_EQ(HandshakeInfoHash(Bytes(bytes), static_cast<int32_t>(bytes.size())), nullptr);
}

// A task that knows an info hash of twenty bytes 7.
class HashedTask : public THarnessTask {
public:
    HashedTask() { hash.fill(7); }
    const uint8_t *InfoHash() override { return hash.data(); }
    std::array<uint8_t, 20> hash;
};

TEST(AcceptIncomingTest, DisguisedHandshakeForTheTaskIsTaken)
{
    HashedTask task;
    QSocket socket;
    std::string bytes = "GET / HTTP/1.0\r\nHost: peer\r\n\r\n" + Handshake(7);
    socket.ReceiveBuffer().Append(bytes.data(), static_cast<int32_t>(bytes.size()));
    EXPECT_TRUE(task.AcceptIncoming(socket));
    EXPECT_EQ(socket.ReceiveLength(), kHandshakeBytes) << "the disguise is consumed";
    EXPECT_TRUE(socket.IsDisguised()) << "so the peer answers in kind";

    QSocket other;
    std::string foreign = Handshake(8);
    other.ReceiveBuffer().Append(foreign.data(), static_cast<int32_t>(foreign.size()));
    EXPECT_FALSE(task.AcceptIncoming(other));

    EXPECT_FALSE(other.IsDisguised());

    // A connection that is no longer open is taken and closed, never kept.
    auto offered = std::make_unique<QSocket>();
    EXPECT_TRUE(task.OfferIncomingPeer(offered));
    EXPECT_TRUE(task.connections.empty());
}

// A client that sent its first bytes to the engine's listener.
class Client {
public:
    Client(int port, const std::string &bytes)
    {
        connected = socket.Connect(HostToNetwork32(0x7F000001), port, true);
        socket.Send(bytes.data(), static_cast<int32_t>(bytes.size()));
    }
    // Whether the engine closed the connection within the given rounds.
    bool ClosedAfter(THarnessTask &task, int rounds)
    {
        for (int i = 0; i < rounds; ++i) {
            task.DispatchIncoming();
            if (socket.WaitReadable(0) && socket.Receive() < 0)
                return true;
            platform::SleepMs(10);
        }
        return false;
    }
    QSocket socket;
    bool connected = false;
};

TEST(DispatchIncomingTest, ConnectionsAreReadAndClosedUntilPeersCanTakeThem)
{
    int port = platform::FreeLoopbackPort();
    ASSERT_GT(port, 0);
    SetListenPort(port);
    EnableListen(true);
    HashedTask task;
    task.DispatchIncoming(); // opens the listener

    Client ours(port, "GET / HTTP/1.0\r\n\r\n" + Handshake(7));
    ASSERT_TRUE(ours.connected);
    EXPECT_TRUE(ours.ClosedAfter(task, 100)) << "no BitTorrent peer can take it yet";

    Client stranger(port, Handshake(9));
    ASSERT_TRUE(stranger.connected);
    EXPECT_TRUE(stranger.ClosedAfter(task, 100)) << "a hash no task registered is dropped";
    EXPECT_TRUE(ListeningService().Pending().empty());
    EnableListen(false);
    task.DispatchIncoming();
}

// The UDP server as the task sees it: only the public address it learnt.
std::atomic<uint32_t> publicAddress{0xFFFFFFFFu};
class PublicAddressServer : public IUdpServer {
public:
    void NoTaskLeft() override {}
    uint32_t PublicAddress() override { return publicAddress.load(); }
};

TEST(OfferIncomingPeerTest, ATransportSocketIsTakenOnlyWhileTheTaskDialsOverTheTransport)
{
    DestroyUdpServer();
    SetUdpServerFactory([](const TUdpServerSettings &) { return std::make_unique<PublicAddressServer>(); });
    FakeStreamTransport transport;
    TransportRegistered registered(&transport);
    const uint8_t tag[8] = {0x5A, 0x11, 3, 4, 5, 6, 7, 8};
    {
        HashedTask task;
        auto offer = [&] {
            auto socket = std::make_unique<QSocket>();
            EXPECT_TRUE(socket->Connect(HostToNetwork32(0xC6336406), 46881, false, 0, tag));
            const std::string handshake = Handshake(7);
            socket->ReceiveBuffer().Append(handshake.data(), static_cast<int32_t>(handshake.size()));
            return task.OfferIncomingPeer(socket);
        };
        publicAddress = 0xFFFFFFFFu;
        EXPECT_FALSE(task.WantsUdp());
        EXPECT_FALSE(offer()) << "no public address known: the task does not use the transport";
        publicAddress = HostToNetwork32(0xC6336402);
        EXPECT_TRUE(task.WantsUdp());
        EXPECT_TRUE(offer());
        outsideReachable = true;
        EXPECT_FALSE(task.WantsUdp());
        EXPECT_FALSE(offer()) << "reachable from outside: TCP serves";
        outsideReachable = false;
    }
    DestroyUdpServer();
    SetUdpServerFactory({});
}

} // namespace
