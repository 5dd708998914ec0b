#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/net/qsocket.h"
#include "engine/net/tcp_socket_api.h"
#include "platform/winsock_codes.h"
#include "tests/engine/net/loopback.h"

namespace {
// A connected pair on 127.0.0.1: client (non-blocking) and accepted server.
struct Pair {
    QSocket listener;
    QSocket client;
    std::unique_ptr<QSocket> server;
    int32_t port = 0;

    bool Open()
    {
        port = ListenOnLoopback(listener);
        if (port == 0 || !client.Connect(Loopback(), port))
            return false;
        server = AcceptWithin(listener);
        return server != nullptr && client.WaitWritable(5) && client.IsConnected();
    }
};

uint8_t PatternByte(int64_t offset)
{
    return static_cast<uint8_t>(offset * 131 + offset / 4099);
}

std::vector<uint8_t> Pattern(int64_t from, size_t size)
{
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = PatternByte(from + static_cast<int64_t>(i));
    return bytes;
}

// Reads from server until it holds data or five seconds pass.
int32_t ReceiveSome(QSocket &socket)
{
    for (int i = 0; i < 50; ++i) {
        int32_t held = socket.Receive();
        if (held != 0)
            return held;
        socket.WaitReadable(1);
    }
    return 0;
}

// Sends through the error-free system calls, but lets a test choose what the
// next accepts report.
class AcceptFaults : public QSocketApi {
public:
    explicit AcceptFaults(QSocketApi &system) : real(system) {}
    int32_t acceptError = 0;

    int32_t Socket() override { return real.Socket(); }
    int32_t Bind(int32_t h, const TSockAddr &a) override { return real.Bind(h, a); }
    int32_t Listen(int32_t h, int32_t backlog) override { return real.Listen(h, backlog); }
    int32_t Accept(int32_t h, TSockAddr *peer) override
    {
        if (acceptError != 0) {
            platform::SetLastSocketError(acceptError);
            return -1;
        }
        return real.Accept(h, peer);
    }
    int32_t Connect(int32_t h, const TSockAddr &a) override { return real.Connect(h, a); }
    int32_t Send(int32_t h, const uint8_t *d, int32_t n) override { return real.Send(h, d, n); }
    int32_t Recv(int32_t h, uint8_t *b, int32_t n) override { return real.Recv(h, b, n); }
    int32_t Wait(int32_t h, TWaitFor w, int32_t ms) override { return real.Wait(h, w, ms); }
    int32_t GetSockName(int32_t h, TSockAddr *a) override { return real.GetSockName(h, a); }
    int32_t PendingError(int32_t h) override { return real.PendingError(h); }
    int32_t SetReuseAddress(int32_t h) override { return real.SetReuseAddress(h); }
    int32_t SetReceiveBuffer(int32_t h, int32_t n) override { return real.SetReceiveBuffer(h, n); }
    int32_t Close(int32_t h) override { return real.Close(h); }
    int32_t LastError() override { return real.LastError(); }

private:
    QSocketApi &real;
};

struct ApiReplaced {
    explicit ApiReplaced(QSocketApi *api) { ReplaceTcpSocketApi(api); }
    ~ApiReplaced() { ReplaceTcpSocketApi(nullptr); }
};
} // namespace

TEST(QSocket, RefusesTargetsThatCannotBeReached)
{
    QSocket socket;
    EXPECT_FALSE(socket.Connect(0u, 80));
    EXPECT_FALSE(socket.Connect(kNoAddress, 80));
    EXPECT_FALSE(socket.Connect(Loopback(), 0));
    EXPECT_FALSE(socket.Connect(Loopback(), 65536));
    EXPECT_FALSE(socket.HasHandle());
    EXPECT_FALSE(socket.Listen(0));
    EXPECT_FALSE(socket.HasHandle());
    EXPECT_EQ(socket.Send("x", 1), 0);
    EXPECT_EQ(socket.Receive(), -1);
}

TEST(QSocket, ConnectsAcceptsAndExchangesBytes)
{
    Pair pair;
    ASSERT_TRUE(pair.Open());
    QSocket &client = pair.client;
    QSocket &server = *pair.server;
    EXPECT_EQ(client.LocalAddress(), Loopback());
    EXPECT_NE(client.LocalPort(), 0u);
    EXPECT_EQ(server.RemoteAddress(), Loopback());
    EXPECT_EQ(static_cast<uint32_t>(server.RemotePort()), client.LocalPort());
    EXPECT_EQ(server.RemoteName(), "127.0.0.1");
    EXPECT_EQ(server.LocalPort(), static_cast<uint32_t>(pair.port));
    EXPECT_EQ(std::memcmp(server.AddressTag(), "\0\0\0\0\0\0\0\0UDP\0\0", QSocket::kTagSize), 0);
    EXPECT_NE(server.ConnectTime(), 0u);

    EXPECT_EQ(server.Receive(), 0); // nothing sent yet
    EXPECT_EQ(client.Send("hello", 5), 5);
    EXPECT_EQ(client.SentBytes(), 5u);
    EXPECT_EQ(client.SendLength(), 0);
    ASSERT_EQ(ReceiveSome(server), 5);
    EXPECT_STREQ(server.ReceiveBuffer().Text(), "hello");
    EXPECT_EQ(server.ReceivedBytes(), 5u);
    server.ConsumeReceived(2);
    EXPECT_STREQ(server.ReceiveBuffer().Text(), "llo");

    EXPECT_EQ(server.Send("ok", 2), 2);
    ASSERT_EQ(ReceiveSome(client), 2);
    EXPECT_STREQ(client.ReceiveBuffer().Text(), "ok");
}

TEST(QSocket, AConnectByNameTakesNumericTextWithoutTheSystem)
{
    QSocket listener;
    int32_t port = ListenOnLoopback(listener);
    ASSERT_NE(port, 0);
    QSocket client;
    ASSERT_TRUE(client.Connect(std::string("127.0.0.1"), port));
    EXPECT_EQ(client.RemoteName(), "127.0.0.1");
    EXPECT_EQ(client.RemoteAddress(), Loopback());
    EXPECT_FALSE(client.Connect(std::string("peer.example.invalid"), port));
    EXPECT_FALSE(client.HasHandle());
}

TEST(QSocket, ARefusedConnectionFailsWithConnectionRefused)
{
    int32_t port = ClosedLoopbackPort();
    ASSERT_NE(port, 0);
    QSocket socket;
    if (socket.Connect(Loopback(), port)) {
        socket.WaitWritable(5);
        EXPECT_FALSE(socket.IsConnected());
    }
    EXPECT_FALSE(socket.HasHandle());
    EXPECT_EQ(socket.LastError(), static_cast<uint32_t>(platform::WSAECONNREFUSED));
    EXPECT_EQ(socket.Receive(), -1);

    // A blocking connect must not call a refused connection a success.
    QSocket blocking;
    EXPECT_FALSE(blocking.Connect(Loopback(), port, true));
    EXPECT_FALSE(blocking.HasHandle());
    EXPECT_EQ(blocking.LastError(), static_cast<uint32_t>(platform::WSAECONNREFUSED));
}

TEST(QSocket, ABlockingConnectCompletesBeforeTheServerAccepts)
{
    QSocket listener;
    int32_t port = ListenOnLoopback(listener);
    ASSERT_NE(port, 0);
    QSocket client;
    ASSERT_TRUE(client.Connect(Loopback(), port, true));
    EXPECT_TRUE(client.IsConnected());
    EXPECT_EQ(client.Send("abc", 3), 3);
    auto server = AcceptWithin(listener);
    ASSERT_NE(server, nullptr);
    ASSERT_EQ(ReceiveSome(*server), 3);
    EXPECT_STREQ(server->ReceiveBuffer().Text(), "abc");
}

TEST(QSocket, AnOrderlyCloseByThePeerEndsTheConnection)
{
    Pair pair;
    ASSERT_TRUE(pair.Open());
    pair.server->Close();
    ASSERT_TRUE(pair.client.WaitReadable(5));
    EXPECT_EQ(pair.client.Receive(), -1);
    EXPECT_FALSE(pair.client.HasHandle());
}

TEST(QSocket, SendingToAVanishedPeerFailsWithoutASignal)
{
    Pair pair;
    ASSERT_TRUE(pair.Open());
    pair.server->Close();
    std::vector<uint8_t> data(1000, 'x');
    int32_t result = 0;
    for (int i = 0; i < 50 && result >= 0; ++i) {
        result = pair.client.Send(data.data(), static_cast<int32_t>(data.size()));
        pair.client.WaitReadable(1); // lets the reset arrive
    }
    EXPECT_EQ(result, -1);
    EXPECT_FALSE(pair.client.HasHandle());
    EXPECT_EQ(pair.client.LastError(), static_cast<uint32_t>(platform::WSAECONNRESET));
}

TEST(QSocket, AFullSocketTakesNothingButKeepsTheConnectionAndTheData)
{
    Pair pair;
    ASSERT_TRUE(pair.Open());
    QSocket &client = pair.client;
    QSocket &server = *pair.server;

    constexpr size_t kChunk = 256 * 1024;
    int64_t offered = 0;
    bool tookNothing = false;
    for (int i = 0; i < 256 && !tookNothing; ++i) {
        std::vector<uint8_t> chunk = Pattern(offered, kChunk);
        int32_t sent = client.Send(chunk.data(), static_cast<int32_t>(kChunk));
        ASSERT_GE(sent, 0);
        offered += static_cast<int64_t>(kChunk);
        tookNothing = sent == 0;
    }
    ASSERT_TRUE(tookNothing);
    EXPECT_TRUE(client.HasHandle());
    EXPECT_GT(client.SendLength(), 0);

    // Everything offered arrives, in order, through the growing buffers.
    int64_t received = 0;
    int idle = 0;
    while (received < offered && idle < 100) {
        client.Flush();
        int32_t held = server.Receive();
        ASSERT_GE(held, 0);
        if (held == 0) {
            ++idle;
            server.WaitReadable(1);
            continue;
        }
        idle = 0;
        std::vector<uint8_t> expected = Pattern(received, static_cast<size_t>(held));
        ASSERT_EQ(std::memcmp(server.ReceiveBuffer().Data(), expected.data(), expected.size()), 0);
        received += held;
        server.ConsumeReceived(held);
    }
    EXPECT_EQ(received, offered);
    EXPECT_EQ(client.SentBytes(), static_cast<uint64_t>(offered));
    EXPECT_EQ(client.SendBuffer().Capacity(), 0); // all sent: the buffer went back
}

TEST(QSocket, APeerCannotGrowTheReceiveBufferWithoutBound)
{
    Pair pair;
    ASSERT_TRUE(pair.Open());
    QSocket &client = pair.client;
    QSocket &server = *pair.server;
    const int64_t total = 3 * 1024 * 1024;
    std::vector<uint8_t> data = Pattern(0, static_cast<size_t>(total));
    client.Send(data.data(), static_cast<int32_t>(total));

    for (int i = 0; i < 2000 && server.ReceiveLength() < QSocket::kReceiveLimit; ++i) {
        client.Flush();
        if (server.Receive() == 0)
            server.WaitReadable(1);
        ASSERT_LE(server.ReceiveLength(), QSocket::kReceiveLimit);
    }
    ASSERT_EQ(server.ReceiveLength(), QSocket::kReceiveLimit);
    EXPECT_EQ(server.Receive(), QSocket::kReceiveLimit); // full: nothing more is read
    EXPECT_EQ(server.ReceivedBytes(), static_cast<uint64_t>(QSocket::kReceiveLimit));
    EXPECT_LT(server.ReceiveBuffer().Capacity(), QSocket::kReceiveLimit + 2 * QSocket::kDefaultReceive + 4096);

    // Once the owner consumes, the rest follows.
    int64_t received = 0;
    for (int i = 0; i < 2000 && received < total; ++i) {
        int32_t held = server.ReceiveLength();
        if (held > 0) {
            ASSERT_EQ(std::memcmp(server.ReceiveBuffer().Data(), data.data() + received, static_cast<size_t>(held)), 0);
            received += held;
            server.ConsumeReceived(held);
        }
        client.Flush();
        if (server.Receive() == 0 && received < total)
            server.WaitReadable(1);
    }
    EXPECT_EQ(received, total);
}

TEST(QSocket, OnlyABrokenListenerIsClosedByAnAcceptError)
{
    AcceptFaults faults(TcpSocketApi());
    ApiReplaced replaced(&faults);
    QSocket listener;
    int32_t port = ListenOnLoopback(listener);
    ASSERT_NE(port, 0);
    QSocket client;
    ASSERT_TRUE(client.Connect(Loopback(), port, true));
    ASSERT_TRUE(listener.WaitReadable(5));

    for (int32_t error : {platform::WSAEMFILE, platform::WSAECONNABORTED, platform::WSAENOBUFS,
                          platform::WSAEWOULDBLOCK}) {
        faults.acceptError = error;
        EXPECT_EQ(listener.Accept(), nullptr);
        EXPECT_TRUE(listener.HasHandle()) << error;
        EXPECT_TRUE(listener.IsListening()) << error;
    }
    faults.acceptError = 0;
    EXPECT_NE(listener.Accept(), nullptr);

    faults.acceptError = platform::WSAENOTSOCK;
    EXPECT_EQ(listener.Accept(), nullptr);
    EXPECT_FALSE(listener.HasHandle());
}

TEST(QSocket, AListenerCannotShareItsPort)
{
    QSocket first;
    int32_t port = ListenOnLoopback(first);
    ASSERT_NE(port, 0);
    QSocket second;
    EXPECT_FALSE(second.Listen(port, Loopback()));
    EXPECT_EQ(second.LastError(), static_cast<uint32_t>(platform::WSAEADDRINUSE));
    EXPECT_FALSE(second.HasHandle());
}

TEST(QSocket, WaitsHonourPendingFlagsAndPollWhenNotBlocking)
{
    Pair pair;
    ASSERT_TRUE(pair.Open());
    QSocket &server = *pair.server;
    EXPECT_FALSE(server.WaitReadable(0));
    EXPECT_FALSE(server.WaitReadable(-2)); // non-blocking: no wait at all
    server.SetReadPending();
    EXPECT_TRUE(server.WaitReadable(0));
    EXPECT_FALSE(server.WaitReadable(0)); // one-shot
    EXPECT_TRUE(server.WaitWritable(0));
    EXPECT_FALSE(QSocket().WaitWritable(0));
}

TEST(QSocket, CloseClearsEverythingButTheLastError)
{
    Pair pair;
    ASSERT_TRUE(pair.Open());
    QSocket &client = pair.client;
    client.Send("abc", 3);
    pair.server->Close();
    client.WaitReadable(5);
    client.Receive(); // the orderly close
    client.SetKeepBuffer(true);
    client.Close();
    EXPECT_FALSE(client.HasHandle());
    EXPECT_EQ(client.RemoteAddress(), 0u);
    EXPECT_EQ(client.RemotePort(), 0);
    EXPECT_EQ(client.LocalPort(), 0u);
    EXPECT_EQ(client.SentBytes(), 0u);
    EXPECT_EQ(client.ConnectTime(), 0u);
    EXPECT_EQ(client.SendBuffer().Capacity(), 0);
    EXPECT_EQ(client.ReceiveBuffer().Capacity(), 0);
    EXPECT_FALSE(client.IsListening());
    EXPECT_TRUE(client.RemoteName().empty());

    // The object is reused for the next connection.
    QSocket listener;
    int32_t port = ListenOnLoopback(listener);
    ASSERT_NE(port, 0);
    ASSERT_TRUE(client.Connect(Loopback(), port, true));
    EXPECT_TRUE(client.IsConnected());
}
