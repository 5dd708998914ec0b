// The built qlrendezvous on loopback: two engines' worth of datagrams
// register, learn their public address, and one is introduced to the other.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "engine/net/ipv4_address.h"
#include "engine/net/qudp_socket.h"
#include "engine/net/rendezvous_packet.h"
#include "platform/child_process.h"
#include "platform/free_port.h"
#include "platform/socket_os.h"
#include "platform/tick.h"

namespace {

const uint32_t kLoopback = HostToNetwork32(0x7F000001);
const uint32_t kSecondLoopback = HostToNetwork32(0x7F000002);

class TRendezvousProcess {
public:
    bool Start()
    {
        port = platform::FreeLoopbackPort();
        pid = platform::StartChildProcess({QLRENDEZVOUS_PROGRAM, "--listen", "127.0.0.1:" + std::to_string(port)});
        return port > 0 && pid > 0;
    }
    // True when it ended on SIGTERM within the grace time (not killed).
    bool Stop()
    {
        const uint32_t start = platform::TickCount();
        const bool ended = platform::StopChildProcess(pid, 5000);
        pid = -1;
        return ended && platform::TickCount() - start < 5000;
    }
    ~TRendezvousProcess()
    {
        if (pid > 0)
            platform::StopChildProcess(pid);
    }
    int port = 0;

private:
    int pid = -1;
};

// One engine's side of the exchange, on its own loopback address.
class TEngineEnd {
public:
    TEngineEnd(uint32_t address, uint8_t n)
    {
        const uint8_t random[8] = {n, 0x42, 3, 4, 5, 6, 7, n};
        identity = MakeUdpIdentity(random);
        socket.Open(0, address);
    }

    template <typename Bytes>
    void SendTo(int port, const Bytes &bytes, size_t length)
    {
        socket.SendTo(bytes.data(), static_cast<int32_t>(length), kLoopback, port);
    }

    // The next datagram within limitMs.
    std::optional<std::vector<uint8_t>> Receive(uint32_t limitMs)
    {
        if (platform::OsWait(socket.Handle(), platform::WaitFor::Read, static_cast<int>(limitMs)) <= 0)
            return std::nullopt;
        std::vector<uint8_t> buffer(QUdpSocket::kMaxDatagram);
        const int32_t length = socket.RecvFrom(buffer.data(), static_cast<int32_t>(buffer.size()));
        if (length <= 0)
            return std::nullopt;
        buffer.resize(static_cast<size_t>(length));
        return buffer;
    }

    // Registers until the report comes (the server may still be starting).
    std::optional<TPublicAddressReport> Register(int port)
    {
        const auto registration = EncodeRegistration({identity, 1, socket.BoundAddress(), 8080});
        for (int attempt = 0; attempt < 100; ++attempt) {
            SendTo(port, registration, registration.size());
            if (auto reply = Receive(100))
                return ParsePublicAddressReport(reply->data(), reply->size());
        }
        return std::nullopt;
    }

    TUdpIdentity identity;
    QUdpSocket socket;
};

TEST(RendezvousServerProcess, RegistersIntroducesAndStopsOnSigterm)
{
    TRendezvousProcess server;
    ASSERT_TRUE(server.Start());
    TEngineEnd a(kLoopback, 1);
    TEngineEnd b(kSecondLoopback, 2);
    ASSERT_TRUE(a.socket.IsOpen() && b.socket.IsOpen());

    const auto reportA = a.Register(server.port);
    ASSERT_TRUE(reportA);
    EXPECT_EQ(reportA->ipv4, kLoopback);
    EXPECT_EQ(reportA->port, static_cast<uint32_t>(a.socket.BoundPort()));
    const auto reportB = b.Register(server.port);
    ASSERT_TRUE(reportB);
    EXPECT_EQ(reportB->ipv4, kSecondLoopback);

    // A keep-alive earns nothing, a wrong length neither.
    const auto keepAlive = EncodeKeepAlive();
    a.SendTo(server.port, keepAlive, keepAlive.size());
    const auto registration = EncodeRegistration({a.identity, 2, 0, 8080});
    a.SendTo(server.port, registration, 63);

    TIntroduction request;
    request.identity = a.identity;
    request.requestId = 31337;
    request.Add({kSecondLoopback, 0, UdpIdentityTag(b.identity)});
    const TIntroductionBytes bytes = EncodeIntroductionRequest(request);
    a.SendTo(server.port, bytes.data, bytes.size);

    const auto answerBytes = a.Receive(5000);
    ASSERT_TRUE(answerBytes);
    const auto answer = ParseIntroductionAnswer(answerBytes->data(), answerBytes->size());
    ASSERT_TRUE(answer) << "the keep-alive or the short registration was answered";
    EXPECT_EQ(answer->requestId, 31337u);
    ASSERT_EQ(answer->entryCount, 1u);
    EXPECT_EQ(answer->entries[0].ipv4, kSecondLoopback);
    EXPECT_EQ(answer->entries[0].port, b.socket.BoundPort());

    const auto noticeBytes = b.Receive(5000);
    ASSERT_TRUE(noticeBytes);
    const auto notice = ParseIntroductionNotice(noticeBytes->data(), noticeBytes->size());
    ASSERT_TRUE(notice);
    EXPECT_EQ(notice->requester, a.identity);
    EXPECT_EQ(notice->ipv4, kLoopback);
    EXPECT_EQ(notice->port, static_cast<uint32_t>(a.socket.BoundPort()));

    EXPECT_TRUE(server.Stop());
}

} // namespace
