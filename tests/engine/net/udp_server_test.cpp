// ctest-labels: threading
// The real UDP server thread on loopback, with this test as its rendezvous
// server: it registers, learns its public address, and its own stream
// sockets reach each other through an introduction (by address form, answered
// with a pair) and carry data both ways; a service port without listener is
// refused. Behind a NAT (a public address unlike the local one) it keeps its
// mapping alive, registers again when no report came, and punches towards
// whoever the rendezvous server names.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <vector>

#include "engine/base/zero_bytes.h"
#include "engine/core/engine_state.h"
#include "engine/net/qsocket.h"
#include "engine/net/qudp_socket.h"
#include "engine/net/rendezvous_packet.h"
#include "engine/net/udp_server.h"
#include "platform/free_port.h"
#include "platform/tick.h"
#include "platform/winsock_codes.h"
#include "tests/engine/net/loopback.h"
#include "tests/engine/net/moved_tick.h"

namespace {
const uint8_t kIdentity[8] = {0x5A, 0x11, 3, 4, 5, 6, 7, 8};
constexpr int32_t kServicePort = 7000;

// Plays the rendezvous server for one engine at serverPort.
class TestRendezvous {
public:
    TestRendezvous() { socket.Open(0, Loopback()); }

    void Serve(int32_t serverPort)
    {
        uint8_t bytes[QUdpSocket::kMaxDatagram];
        int32_t length;
        while ((length = socket.RecvFrom(bytes, sizeof bytes)) > 0) {
            const auto size = static_cast<size_t>(length);
            if (auto registration = ParseRegistration(bytes, size)) {
                ++registrations;
                registeredFrom = socket.SourcePort();
                if (silent)
                    continue;
                const uint32_t seenAt = reportedAddress != 0 ? reportedAddress : socket.SourceAddress();
                const auto report = EncodePublicAddressReport({seenAt, static_cast<uint32_t>(socket.SourcePort())});
                socket.SendTo(report.data(), static_cast<int32_t>(report.size()), socket.SourceAddress(),
                              socket.SourcePort());
            } else if (size == kKeepAliveBytes && AllZeroBytes(bytes, size)) {
                ++keepAlives;
            } else if (auto request = ParseIntroductionRequest(bytes, size)) {
                for (size_t i = 0; i < request->entryCount; ++i)
                    addressQueries += IsUdpAddressTag(request->entries[i].tag) ? 1 : 0;
                mostAnswerEntries = std::max(mostAnswerEntries, AnswerEntries(*request));
                Answer(*request, serverPort);
            }
        }
    }

    QUdpSocket socket;
    uint32_t reportedAddress = 0; // the public address told; 0: the source's
    bool silent = false;          // registrations go unanswered
    int registrations = 0;
    int keepAlives = 0;
    int32_t registeredFrom = 0;
    int addressPairs = 0;
    int addressQueries = 0;
    size_t mostAnswerEntries = 0;

private:
    void Answer(const TIntroduction &request, int32_t serverPort)
    {
        TIntroduction answer = request;
        answer.entryCount = 0;
        for (size_t i = 0; i < request.entryCount; ++i) {
            TIntroductionEntry entry = request.entries[i];
            const bool ours = std::memcmp(entry.tag.data(), kIdentity, 8) == 0;
            entry.port = ours ? serverPort : kIntroductionPortUnknown;
            answer.Add(entry);
            if (IsUdpAddressTag(entry.tag)) {
                ++addressPairs;
                TIntroductionEntry found{Loopback(), serverPort, {}};
                std::memcpy(found.tag.data(), kIdentity, 8);
                answer.Add(found);
            }
        }
        const TIntroductionBytes bytes = EncodeIntroductionAnswer(answer);
        socket.SendTo(bytes.data.data(), static_cast<int32_t>(bytes.size), socket.SourceAddress(),
                      socket.SourcePort());
    }
};

class UdpServerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        engineIdle = false;
        serverPort = platform::FreeLoopbackPort();
        ASSERT_GT(serverPort, 0);
        TUdpServerSettings settings;
        settings.rendezvousHost = "127.0.0.1";
        settings.rendezvousPort = static_cast<uint16_t>(rendezvous.socket.BoundPort());
        std::memcpy(settings.identity, kIdentity, 8);
        server.SetLocalAddress(Loopback(), serverPort);
        ASSERT_EQ(server.StartServer(settings), 0);
        const uint32_t expected = rendezvous.reportedAddress != 0 ? rendezvous.reportedAddress : Loopback();
        ASSERT_TRUE(Until([&] { return server.PublicAddress() == expected; }));
        EXPECT_EQ(server.BehindNat(), rendezvous.reportedAddress != 0);
    }
    void TearDown() override
    {
        server.StopServer();
        engineIdle = true;
    }
    // By the real clock: the tests behind a NAT move the tick by hand.
    template <typename Done> bool Until(Done done)
    {
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < limit) {
            rendezvous.Serve(serverPort);
            if (done())
                return true;
            platform::SleepMs(1);
        }
        return false;
    }

    QUInternalServer &server = QUInternalServer::Instance();
    TestRendezvous rendezvous;
    int32_t serverPort = 0;
};

const uint32_t kNatPublicAddress = HostToNetwork32(0x7F000009u);

class UdpServerBehindNatTest : public UdpServerTest {
protected:
    void SetUp() override
    {
        rendezvous.reportedAddress = kNatPublicAddress;
        UdpServerTest::SetUp();
    }
    const uint32_t kKeepAliveMs = TUdpServerSettings{}.keepAliveSeconds * 1000;
};
} // namespace

TEST_F(UdpServerTest, OwnSocketsMeetThroughAnAddressIntroductionAndCarryDataBothWays)
{
    QSocket listener;
    ASSERT_TRUE(listener.Listen(kServicePort, Loopback(), kIdentity));
    const TUdpTag address = UdpAddressTag(Loopback(), static_cast<uint16_t>(serverPort));
    QSocket client;
    ASSERT_TRUE(client.Connect(Loopback(), kServicePort, false, 0, address.data()));
    std::unique_ptr<QSocket> accepted;
    ASSERT_TRUE(Until([&] {
        if (!accepted)
            accepted = listener.Accept();
        return accepted && client.IsConnected();
    }));
    EXPECT_EQ(rendezvous.addressPairs, 1);
    EXPECT_EQ(std::memcmp(accepted->AddressTag(), kIdentity, 8), 0); // the requester's identity
    EXPECT_GE(client.WaitHandle(), 0);

    std::vector<uint8_t> forth(300000);
    std::vector<uint8_t> back(200000);
    for (size_t i = 0; i < forth.size(); ++i)
        forth[i] = static_cast<uint8_t>(i * 31 + 7);
    for (size_t i = 0; i < back.size(); ++i)
        back[i] = static_cast<uint8_t>(i * 13 + 1);
    ASSERT_GE(client.Send(forth.data(), static_cast<int32_t>(forth.size())), 0);
    ASSERT_GE(accepted->Send(back.data(), static_cast<int32_t>(back.size())), 0);
    ASSERT_TRUE(Until([&] {
        client.Flush();
        accepted->Flush();
        accepted->Receive();
        client.Receive();
        return accepted->ReceiveLength() == static_cast<int32_t>(forth.size()) &&
               client.ReceiveLength() == static_cast<int32_t>(back.size());
    }));
    EXPECT_EQ(std::memcmp(accepted->ReceiveBuffer().Data(), forth.data(), forth.size()), 0);
    EXPECT_EQ(std::memcmp(client.ReceiveBuffer().Data(), back.data(), back.size()), 0);
}

TEST_F(UdpServerTest, AServicePortWithoutListenerIsRefused)
{
    QSocket client;
    ASSERT_TRUE(client.Connect(Loopback(), kServicePort + 1, false, 0, kIdentity));
    ASSERT_TRUE(Until([&] { return !client.IsConnected() && !client.HasHandle(); }));
    EXPECT_EQ(client.LastError(), static_cast<uint32_t>(platform::WSAECONNREFUSED));
}

TEST_F(UdpServerTest, ANewLocalPortRegistersTheNewSocket)
{
    ASSERT_EQ(rendezvous.registeredFrom, serverPort);
    const int32_t moved = platform::FreeLoopbackPort();
    ASSERT_GT(moved, 0);
    server.SetLocalAddress(Loopback(), moved);
    EXPECT_TRUE(Until([&] { return rendezvous.registeredFrom == moved; }))
        << "the rendezvous server still knows the closed socket";
    server.SetLocalAddress(Loopback(), serverPort);
    EXPECT_TRUE(Until([&] { return rendezvous.registeredFrom == serverPort; }));
}

TEST_F(UdpServerTest, AnAnswerNeverOutgrowsItsTwelveEntries)
{
    QSocket listener;
    ASSERT_TRUE(listener.Listen(kServicePort, Loopback(), kIdentity));
    // Seven queries by address at once: their answers take fourteen entries.
    std::vector<std::unique_ptr<QSocket>> clients;
    for (int i = 0; i < 7; ++i) {
        clients.push_back(std::make_unique<QSocket>());
        const TUdpTag address = UdpAddressTag(Loopback(), static_cast<uint16_t>(serverPort));
        ASSERT_TRUE(clients.back()->Connect(Loopback(), kServicePort, false, 0, address.data()));
    }
    std::vector<std::unique_ptr<QSocket>> accepted;
    EXPECT_TRUE(Until([&] {
        while (auto one = listener.Accept())
            accepted.push_back(std::move(one));
        return std::all_of(clients.begin(), clients.end(), [](auto &c) { return c->IsConnected(); });
    })) << "a query left out of a full answer fails its connect";
    EXPECT_EQ(rendezvous.addressQueries, 7);
    EXPECT_LE(rendezvous.mostAnswerEntries, kIntroductionMaxEntries);
}

TEST_F(UdpServerBehindNatTest, KeepsItsMappingAliveAndRegistersAgainWhenNoReportCame)
{
    TMovedTick tick;
    tick.Advance(kKeepAliveMs);
    EXPECT_TRUE(Until([&] { return rendezvous.keepAlives == 1; })) << "no keep-alive behind a NAT";
    // A registration from a new socket goes unanswered: the next keep-alive
    // round registers again instead of waiting out the 300 s period.
    rendezvous.silent = true;
    const int before = rendezvous.registrations;
    const int32_t moved = platform::FreeLoopbackPort();
    ASSERT_GT(moved, 0);
    server.SetLocalAddress(Loopback(), moved);
    ASSERT_TRUE(Until([&] { return rendezvous.registrations == before + 1; }));
    tick.Advance(kKeepAliveMs);
    EXPECT_TRUE(Until([&] { return rendezvous.registrations == before + 2; }));
    rendezvous.silent = false;
    server.SetLocalAddress(Loopback(), serverPort);
    EXPECT_TRUE(Until([&] { return rendezvous.registeredFrom == serverPort; }));
}

TEST_F(UdpServerBehindNatTest, ANoticeIsPunchedAtOnceThenTwiceOnTheTimerAndNoMore)
{
    QUdpSocket requester;
    ASSERT_TRUE(requester.Open(0, Loopback()));
    TIntroductionNotice notice;
    notice.requester = {0x77, 0x66, 5, 4, 3, 2, 1, 9, 'U', 'D', 'P', '0'};
    notice.ipv4 = Loopback();
    notice.port = static_cast<uint32_t>(requester.BoundPort());
    int punches = 0;
    auto punchesArrived = [&] {
        uint8_t datagram[QUdpSocket::kMaxDatagram];
        int32_t length;
        while ((length = requester.RecvFrom(datagram, sizeof datagram)) > 0) {
            const auto punch = ParsePunch(datagram, static_cast<size_t>(length));
            EXPECT_TRUE(punch) << "a datagram that is no punch, " << length << " bytes";
            if (!punch)
                continue;
            // The receiver sorts punches by the identity in them.
            EXPECT_EQ(punch->receiver, notice.requester);
            EXPECT_EQ(std::memcmp(punch->sender.data(), kIdentity, 8), 0);
            EXPECT_EQ(punch->senderPort, serverPort);
            ++punches;
        }
        return punches;
    };

    TMovedTick tick;
    const auto bytes = EncodeIntroductionNotice(notice);
    ASSERT_GT(rendezvous.socket.SendTo(bytes.data(), static_cast<int32_t>(bytes.size()), Loopback(), serverPort), 0);
    EXPECT_TRUE(Until([&] { return punchesArrived() == 1; })) << "the first punch waits for no timer";
    tick.Advance(3000);
    EXPECT_TRUE(Until([&] { return punchesArrived() == 2; }));
    tick.Advance(3000);
    EXPECT_TRUE(Until([&] { return punchesArrived() == 3; }));
    tick.Advance(3000);
    platform::SleepMs(200);
    EXPECT_EQ(punchesArrived(), 3) << "an entry goes after its second timed punch";
}
