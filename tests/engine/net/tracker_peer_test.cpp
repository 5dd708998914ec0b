#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/base/engine_clock.h"
#include "engine/net/ipv4_address.h"
#include "engine/net/qudp_socket.h"
#include "engine/net/tracker_peer.h"
#include "engine/net/tracker_udp.h"
#include "platform/tick.h"
#include "tests/engine/net/loopback.h"
#include "tests/engine/net/memory_peer_task.h"
#include "tests/engine/net/scripted_server.h"

namespace {

std::string Compact(uint8_t last, int port)
{
    return std::string{127, 0, 0, static_cast<char>(last), static_cast<char>(port >> 8),
                       static_cast<char>(port & 0xFF)};
}

std::vector<std::string> Named(const TMemoryPeerTask &task)
{
    std::vector<std::string> out;
    for (const TTrackerPeerAddress &peer : task.trackerPeers)
        out.push_back(DottedText(peer.address) + ":" + std::to_string(peer.port));
    return out;
}

// The peer id an HTTP request carried.
std::string PeerIdOf(const std::string &request)
{
    size_t at = request.find("peer_id=");
    return at == std::string::npos ? std::string() : request.substr(at, request.find('&', at) - at);
}

class TrackerPeerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (int i = 0; i < 20; ++i)
            task.infoHash[i] = static_cast<uint8_t>(0xA0 + i);
        task.ownPeerId.fill('p');
    }

    TTrackerPeer *Attach(const std::string &url)
    {
        address.reset(new TPeerId);
        EXPECT_TRUE(address->Parse(url));
        peer.reset(new TTrackerPeer(&task));
        attached = peer->AttachAddress(address.get());
        return peer.get();
    }

    // Ticks until done() holds; false when a tick failed first or time ran out.
    bool Drive(const std::function<bool()> &done)
    {
        for (int round = 0; round < 5000; ++round) {
            server.Flush();
            if (done())
                return true;
            if (!(lastTick = peer->DownloadTick()))
                return done();
            platform::SleepMs(1);
        }
        return false;
    }

    TMemoryPeerTask task{1 << 20, 1 << 18};
    ScriptedServer server;
    std::unique_ptr<TPeerId, Released> address;
    std::unique_ptr<TTrackerPeer, Released> peer;
    bool attached = false;
    bool lastTick = true;
};

} // namespace

TEST_F(TrackerPeerTest, HttpAnnounceKeepsThePasskeyAndTakesThePeersOfTheAnswer)
{
    ASSERT_TRUE(server.Listen());
    const std::string host = "127.0.0.1:" + std::to_string(server.port);
    TTrackerPeer *p = Attach("tracker://http://" + host + "/announce?passkey=s3cret");
    ASSERT_TRUE(attached);
    ASSERT_TRUE(p->DownloadTick());
    ASSERT_TRUE(server.Accept());
    std::string request = server.Request();
    EXPECT_EQ(request.rfind("GET /announce?passkey=s3cret&info_hash=%a0%a1", 0), 0u) << request;
    EXPECT_NE(request.find("&port=6881&uploaded=0&downloaded=0&left=1048576&event=started&key=3800&compact=1"
                           "&numwant=200 HTTP/1.0\r\n"),
              std::string::npos)
        << request;
    EXPECT_NE(request.find("\r\nHost: " + host + "\r\nAccept-Encoding: gzip\r\nConnection: close\r\n"),
              std::string::npos);
    EXPECT_EQ(task.freshPeerIds, 1);

    // No length: the answer ends with the connection, NUL bytes and all.
    std::string body = "d8:intervali1800e5:peers12:" + Compact(1, 6881) + Compact(2, 6882) + "e";
    server.Send("HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n" + body.substr(0, 20));
    for (int i = 0; i < 20; ++i) {
        server.Flush();
        ASSERT_TRUE(p->DownloadTick());
        platform::SleepMs(1);
    }
    EXPECT_EQ(p->state, PEER_STATE_ACTIVE) << "an answer without a length waits for the close";
    server.Send(body.substr(20));
    server.Close();
    ASSERT_TRUE(Drive([&] { return p->state == PEER_STATE_FINISHED; }));
    EXPECT_EQ(Named(task), (std::vector<std::string>{"127.0.0.1:6881", "127.0.0.2:6882"}));
    EXPECT_EQ(address->announceInterval, 1800);
    // A finished tracker leaves the pool without counting as a failure.
    EXPECT_FALSE(p->DownloadTick());
}

TEST_F(TrackerPeerTest, HttpAnnounceIsRepeatedOnANewConnectionEveryElevenSecondsAndTimesOut)
{
    ASSERT_TRUE(server.Listen());
    TTrackerPeer *p = Attach("tracker://http://127.0.0.1:" + std::to_string(server.port) + "/a");
    ASSERT_TRUE(attached);
    ASSERT_TRUE(p->DownloadTick());
    ASSERT_TRUE(server.Accept());
    std::string first = PeerIdOf(server.Request());

    AdvanceEngineClock(10);
    ASSERT_TRUE(p->DownloadTick());
    EXPECT_FALSE(server.listener.WaitReadable(0)) << "repeated before eleven seconds";
    AdvanceEngineClock(1);
    ASSERT_TRUE(p->DownloadTick());
    ASSERT_TRUE(server.Accept());
    std::string second = PeerIdOf(server.Request());
    EXPECT_FALSE(second.empty());
    EXPECT_NE(first, second) << "each HTTP announce carries a fresh peer id";
    EXPECT_EQ(p->AnnouncesSent(), 2);

    AdvanceEngineClock(48);
    EXPECT_TRUE(p->DownloadTick());
    AdvanceEngineClock(1);
    EXPECT_FALSE(p->DownloadTick());
    EXPECT_EQ(p->state, PEER_STATE_TIMED_OUT);
    EXPECT_TRUE(task.trackerPeers.empty());
}

TEST_F(TrackerPeerTest, HttpErrorStatusAndRefusedConnectionAreFailures)
{
    ASSERT_TRUE(server.Listen());
    TTrackerPeer *p = Attach("tracker://http://127.0.0.1:" + std::to_string(server.port) + "/a");
    ASSERT_TRUE(p->DownloadTick());
    ASSERT_TRUE(server.Accept());
    server.Request();
    server.Send("HTTP/1.1 404 Not Found\r\nContent-Length: 27\r\n\r\nd5:peers6:" + Compact(2, 6881) + "e");
    EXPECT_FALSE(Drive([] { return false; }));
    EXPECT_FALSE(lastTick);
    EXPECT_NE(p->state, PEER_STATE_FINISHED);
    EXPECT_NE(p->state, PEER_STATE_TIMED_OUT);
    EXPECT_TRUE(task.trackerPeers.empty());

    Attach("tracker://http://127.0.0.1:" + std::to_string(ClosedLoopbackPort()) + "/a");
    EXPECT_FALSE(Drive([] { return false; }));
    EXPECT_FALSE(lastTick);
}

TEST_F(TrackerPeerTest, HttpsAndATaskWithoutInfoHashAnnounceNothing)
{
    Attach("tracker://https://127.0.0.1:9/announce");
    EXPECT_FALSE(attached);
    EXPECT_EQ(task.removed.size(), 1u) << "an https tracker is dropped for good";

    ASSERT_TRUE(server.Listen());
    task.knowsInfoHash = false;
    TTrackerPeer *p = Attach("tracker://http://127.0.0.1:" + std::to_string(server.port) + "/a");
    EXPECT_FALSE(p->DownloadTick());
    EXPECT_EQ(p->AnnouncesSent(), 0);
}

namespace {

// A UDP tracker scripted by the test.
class ScriptedUdpTracker {
public:
    bool Open() { return socket.Open(0, Loopback()); }
    std::string Url() const { return "tracker://udp://127.0.0.1:" + std::to_string(socket.BoundPort()) + "/announce"; }
    // The next datagram, within five seconds.
    std::vector<uint8_t> Receive()
    {
        uint8_t buffer[2048];
        for (int i = 0; i < 5000; ++i) {
            int32_t length = socket.RecvFrom(buffer, sizeof buffer);
            if (length > 0)
                return std::vector<uint8_t>(buffer, buffer + length);
            platform::SleepMs(1);
        }
        return {};
    }
    bool Nothing()
    {
        uint8_t buffer[2048];
        return socket.RecvFrom(buffer, sizeof buffer) == 0;
    }
    void Send(const std::vector<uint8_t> &datagram, QUdpSocket *from = nullptr)
    {
        QUdpSocket &out = from != nullptr ? *from : socket;
        out.SendTo(datagram.data(), static_cast<int32_t>(datagram.size()), socket.SourceAddress(),
                   socket.SourcePort());
    }
    QUdpSocket socket;
};

uint32_t Get32(const std::vector<uint8_t> &d, size_t at)
{
    return (uint32_t{d[at]} << 24) | (uint32_t{d[at + 1]} << 16) | (uint32_t{d[at + 2]} << 8) | d[at + 3];
}

std::vector<uint8_t> Answer(uint32_t action, uint32_t transaction, const std::string &tail)
{
    std::vector<uint8_t> out;
    for (uint32_t v : {action, transaction})
        for (int s = 24; s >= 0; s -= 8)
            out.push_back(static_cast<uint8_t>(v >> s));
    out.insert(out.end(), tail.begin(), tail.end());
    return out;
}

const std::string kConnectionId = "CONN-ID!";

} // namespace

TEST_F(TrackerPeerTest, UdpAnswersOnlyFromTheTrackerWithItsTransactionAndFullLengthCount)
{
    ScriptedUdpTracker tracker;
    ASSERT_TRUE(tracker.Open());
    TTrackerPeer *p = Attach(tracker.Url());
    ASSERT_TRUE(attached);
    EXPECT_TRUE(p->OverUdp());
    std::vector<uint8_t> connect = tracker.Receive();
    ASSERT_EQ(connect.size(), 16u);
    EXPECT_EQ(Get32(connect, 0), 0x417u);
    EXPECT_EQ(Get32(connect, 4), 0x27101980u);
    EXPECT_EQ(Get32(connect, 8), 0u);
    uint32_t tx = Get32(connect, 12);

    // A foreign transaction, a short answer and a stranger's datagram.
    tracker.Send(Answer(0, tx + 1, kConnectionId));
    tracker.Send(Answer(0, tx, kConnectionId.substr(0, 7)));
    QUdpSocket stranger;
    ASSERT_TRUE(stranger.Open(0, Loopback()));
    tracker.Send(Answer(0, tx, kConnectionId), &stranger);
    platform::SleepMs(20);
    ASSERT_TRUE(p->DownloadTick());
    EXPECT_EQ(p->stage, PEER_STAGE_CONNECTING);
    EXPECT_TRUE(tracker.Nothing()) << "no announce without a connection id";

    AdvanceEngineClock(11);
    ASSERT_TRUE(p->DownloadTick());
    connect = tracker.Receive();
    ASSERT_EQ(connect.size(), 16u);
    EXPECT_NE(Get32(connect, 12), tx) << "every connect draws a new transaction id";
    tx = Get32(connect, 12);
    tracker.Send(Answer(0, tx, kConnectionId));
    ASSERT_TRUE(Drive([&] { return p->stage == PEER_STAGE_USABLE; }));

    std::vector<uint8_t> announce = tracker.Receive();
    ASSERT_EQ(announce.size(), 104u);
    EXPECT_EQ(std::string(announce.begin(), announce.begin() + 8), kConnectionId);
    EXPECT_EQ(Get32(announce, 8), 1u);
    EXPECT_EQ(announce[16], 0xA0);
    EXPECT_EQ(announce[36], 'p') << "UDP announces carry the task's own peer id";
    EXPECT_EQ(Get32(announce, 84), 0u);
    EXPECT_EQ((announce[96] << 8) | announce[97], 6881);
    uint32_t announceTx = Get32(announce, 12);

    // A header one byte short, then the answer.
    tracker.Send(Answer(1, announceTx, std::string(11, '\0')));
    tracker.Send(Answer(1, announceTx, std::string{0, 0, 0x0E, 0x10, 0, 0, 0, 1, 0, 0, 0, 2} + Compact(3, 6883) +
                                           Compact(4, 6884) + "xyz"));
    ASSERT_TRUE(Drive([&] { return p->state == PEER_STATE_FINISHED; }));
    EXPECT_EQ(Named(task), (std::vector<std::string>{"127.0.0.3:6883", "127.0.0.4:6884"}));
    EXPECT_EQ(address->announceInterval, 3600);
}

TEST_F(TrackerPeerTest, UdpErrorAndAnOldConnectionIdLeadToANewConnect)
{
    ScriptedUdpTracker tracker;
    ASSERT_TRUE(tracker.Open());
    TTrackerPeer *p = Attach(tracker.Url());
    tracker.Send(Answer(0, Get32(tracker.Receive(), 12), kConnectionId));
    ASSERT_TRUE(Drive([&] { return p->stage == PEER_STAGE_USABLE; }));
    uint32_t announceTx = Get32(tracker.Receive(), 12);

    std::string text = "Connection ID missmatch.";
    tracker.Send(Answer(3, announceTx, text));
    ASSERT_TRUE(Drive([&] { return p->stage == PEER_STAGE_CONNECTING; }));
    AdvanceEngineClock(11);
    ASSERT_TRUE(p->DownloadTick());
    std::vector<uint8_t> connect = tracker.Receive();
    ASSERT_EQ(connect.size(), 16u) << "an error answer makes the client connect again";
    tracker.Send(Answer(0, Get32(connect, 12), kConnectionId));
    ASSERT_TRUE(Drive([&] { return p->stage == PEER_STAGE_USABLE; }));
    announceTx = Get32(tracker.Receive(), 12);

    // Unanswered announces are repeated with the same id while it is young;
    // a tracker that stays in touch keeps the peer past a minute, and then
    // its id has to be renewed.
    for (int second = 0; second < 55; second += 11) {
        AdvanceEngineClock(11);
        tracker.Send(Answer(1, announceTx + 1, std::string(12, '\0')));
        platform::SleepMs(5);
        ASSERT_TRUE(p->DownloadTick());
        std::vector<uint8_t> again = tracker.Receive();
        ASSERT_EQ(again.size(), 104u) << second;
        announceTx = Get32(again, 12);
    }
    AdvanceEngineClock(11);
    tracker.Send(Answer(1, announceTx + 1, std::string(12, '\0')));
    platform::SleepMs(5);
    ASSERT_TRUE(p->DownloadTick());
    EXPECT_EQ(tracker.Receive().size(), 16u) << "a connection id over a minute old is renewed";

    // Silence for a minute ends it.
    AdvanceEngineClock(60);
    EXPECT_FALSE(p->DownloadTick());
    EXPECT_EQ(p->state, PEER_STATE_TIMED_OUT);
}
