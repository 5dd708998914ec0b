// LAN discovery without a network: datagrams through the parse unit, the
// engine-wide list, and one task's exchange over a scripted group socket.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <deque>
#include <string>
#include <vector>

#include "engine/net/lan_exchange.h"

namespace {

TLanHash Hash(uint8_t fill)
{
    TLanHash hash;
    hash.fill(fill);
    return hash;
}

uint32_t Ip(const char *dotted)
{
    return inet_addr(dotted);
}

TLanDatagram Datagram(uint8_t torrent, uint8_t peer, bool answer = false, uint16_t port = 6881)
{
    TLanDatagram datagram;
    datagram.address = Ip("192.168.77.9");
    datagram.port = port;
    datagram.answer = answer;
    datagram.infoHash = Hash(torrent);
    datagram.peerId = Hash(peer);
    return datagram;
}

class ScriptedLanSocket : public ILanSocket {
public:
    struct Waiting {
        std::vector<uint8_t> bytes;
        uint32_t source;
    };
    void Arrive(const TLanDatagram &datagram, const char *from)
    {
        const auto bytes = EncodeLanDatagram(datagram);
        waiting.push_back({std::vector<uint8_t>(bytes.begin(), bytes.end()), Ip(from)});
    }
    bool SendToGroup(const uint8_t *bytes, size_t length) override
    {
        if (failSends)
            return false;
        TLanDatagram datagram;
        EXPECT_TRUE(ParseLanDatagram(bytes, length, datagram));
        sent.push_back(datagram);
        return true;
    }
    int Receive(uint8_t *buffer, size_t capacity, size_t &length, uint32_t &source) override
    {
        if (failReceive)
            return -1;
        if (waiting.empty())
            return 0;
        Waiting next = waiting.front();
        waiting.pop_front();
        length = next.bytes.size();
        std::copy(next.bytes.begin(), next.bytes.begin() + static_cast<long>(std::min(length, capacity)), buffer);
        source = next.source;
        return 1;
    }
    std::deque<Waiting> waiting;
    std::vector<TLanDatagram> sent;
    bool failSends = false;
    bool failReceive = false;
};

class RecordingLanTask : public ILanTask {
public:
    explicit RecordingLanTask(uint8_t torrent, uint8_t peer) : infoHash(Hash(torrent)), peerId(Hash(peer)) {}
    const TLanHash &LanInfoHash() override { return infoHash; }
    const TLanHash &LanPeerId() override { return peerId; }
    void AddLanPeer(uint32_t address, uint16_t port, const TLanHash &id) override
    {
        char text[INET_ADDRSTRLEN];
        in_addr raw{address};
        inet_ntop(AF_INET, &raw, text, sizeof text);
        peers.push_back(std::string(text) + ":" + std::to_string(port) + "/" + std::to_string(id[0]));
    }
    TLanHash infoHash;
    TLanHash peerId;
    std::vector<std::string> peers;
    bool announced = false;
};

class LanExchangeTest : public ::testing::Test {
protected:
    bool Run(RecordingLanTask &task, uint32_t now = 100, size_t taskCount = 2)
    {
        return TLanExchange::Run(socket, list, task, self, task.announced, now, taskCount);
    }
    ScriptedLanSocket socket;
    TLanList list;
    TLanSelf self{Ip("192.168.77.1"), 7000};
};

} // namespace

TEST(LanDatagramTest, OnlyExactly56SoundBytesParse)
{
    const auto bytes = EncodeLanDatagram(Datagram(1, 2, true, 51413));
    TLanDatagram read;
    ASSERT_TRUE(ParseLanDatagram(bytes.data(), bytes.size(), read));
    EXPECT_EQ(read.port, 51413);
    EXPECT_TRUE(read.answer);
    EXPECT_EQ(read.address, Ip("192.168.77.9"));
    EXPECT_EQ(bytes[8], 51413 >> 8) << "the port is in network order";

    std::vector<uint8_t> longer(bytes.begin(), bytes.end());
    longer.push_back(0);
    EXPECT_FALSE(ParseLanDatagram(longer.data(), longer.size(), read));
    EXPECT_FALSE(ParseLanDatagram(bytes.data(), 55, read));
    auto marked = bytes;
    marked[3] = 1;
    EXPECT_FALSE(ParseLanDatagram(marked.data(), marked.size(), read));
    const auto noPort = EncodeLanDatagram(Datagram(1, 2, false, 0));
    EXPECT_FALSE(ParseLanDatagram(noPort.data(), noPort.size(), read));
    const auto noHash = EncodeLanDatagram(Datagram(0, 2));
    EXPECT_FALSE(ParseLanDatagram(noHash.data(), noHash.size(), read));
    // Any non-zero type word is an answer.
    auto typed = EncodeLanDatagram(Datagram(1, 2));
    typed[15] = 0x80;
    ASSERT_TRUE(ParseLanDatagram(typed.data(), typed.size(), read));
    EXPECT_TRUE(read.answer);
}

TEST_F(LanExchangeTest, AnnouncesTwiceUntilBothSendsSucceedThenListens)
{
    RecordingLanTask task(1, 10);
    socket.failSends = true;
    EXPECT_FALSE(Run(task)) << "a send error leaves the group";
    EXPECT_FALSE(task.announced);
    socket.failSends = false;
    socket.Arrive(Datagram(1, 20), "192.168.77.2");
    EXPECT_TRUE(Run(task));
    ASSERT_EQ(socket.sent.size(), 2u);
    EXPECT_FALSE(socket.sent[0].answer);
    EXPECT_EQ(socket.sent[0].port, 7000);
    EXPECT_EQ(socket.sent[0].infoHash, Hash(1));
    EXPECT_TRUE(task.peers.empty()) << "the announcing call only sends";
    EXPECT_TRUE(Run(task));
    EXPECT_EQ(task.peers, std::vector<std::string>{"192.168.77.2:6881/20"});

    socket.failReceive = true;
    EXPECT_FALSE(Run(task));
    EXPECT_FALSE(task.announced) << "a receive error makes the task announce again";
}

TEST_F(LanExchangeTest, APeerIsWhereItsDatagramCameFromAndIsAnsweredOncePerCall)
{
    RecordingLanTask task(1, 10);
    task.announced = true;
    TLanDatagram aimed = Datagram(1, 20);
    aimed.address = Ip("10.9.9.9"); // a third host named inside the datagram
    socket.Arrive(aimed, "192.168.77.2");
    socket.Arrive(Datagram(1, 21), "192.168.77.3");
    socket.Arrive(Datagram(1, 22, true), "192.168.77.4");
    EXPECT_TRUE(Run(task));
    EXPECT_EQ(task.peers, (std::vector<std::string>{"192.168.77.2:6881/20", "192.168.77.3:6881/21",
                                                    "192.168.77.4:6881/22"}));
    ASSERT_EQ(socket.sent.size(), 1u);
    EXPECT_TRUE(socket.sent[0].answer);

    // An answer adds its peer but is not answered.
    socket.sent.clear();
    socket.Arrive(Datagram(1, 23, true), "192.168.77.5");
    EXPECT_TRUE(Run(task));
    EXPECT_TRUE(socket.sent.empty());
}

TEST_F(LanExchangeTest, OwnDatagramsAndMalformedOnesChangeNothing)
{
    RecordingLanTask task(1, 10);
    task.announced = true;
    list.AddOwnPeerId(Hash(10));
    list.AddOwnPeerId(Hash(0x77));
    list.AddOwnPeerId(Hash(0x77));
    list.RemoveOwnPeerId(Hash(0x77)); // two tasks with one id: one left
    socket.Arrive(Datagram(1, 20), "192.168.77.1");         // loops back from our address
    TLanDatagram claims = Datagram(1, 21);
    claims.address = self.address;
    socket.Arrive(claims, "192.168.77.6");                   // names our address
    socket.Arrive(Datagram(1, 0x77), "192.168.78.1");        // another task of ours, other interface
    socket.Arrive(Datagram(1, 10), "192.168.78.1");          // this task itself
    socket.Arrive(Datagram(1, 22, false, 0), "192.168.77.7"); // no port
    socket.waiting.push_back({std::vector<uint8_t>(55, 0), Ip("192.168.77.8")});
    socket.waiting.push_back({std::vector<uint8_t>(57, 0), Ip("192.168.77.8")});
    EXPECT_TRUE(Run(task));
    EXPECT_TRUE(task.peers.empty());
    EXPECT_TRUE(socket.sent.empty());
    EXPECT_EQ(list.Size(), 0u);
}

TEST_F(LanExchangeTest, OtherTorrentsWaitInTheListUntilEveryTaskSawThemOr30Seconds)
{
    RecordingLanTask a(1, 10);
    RecordingLanTask b(2, 11);
    RecordingLanTask c(3, 12);
    a.announced = b.announced = c.announced = true;
    socket.Arrive(Datagram(2, 20), "192.168.77.2"); // for b, heard by a
    socket.Arrive(Datagram(9, 21), "192.168.77.3"); // for nobody
    socket.Arrive(Datagram(9, 21), "192.168.77.3"); // kept once
    EXPECT_TRUE(Run(a, 100, 3));
    EXPECT_EQ(list.Size(), 2u);
    EXPECT_TRUE(Run(b, 101, 3));
    EXPECT_EQ(b.peers, std::vector<std::string>{"192.168.77.2:6881/20"});
    EXPECT_EQ(list.Size(), 1u) << "taken by its task";
    EXPECT_TRUE(Run(c, 102, 3));
    EXPECT_EQ(list.Size(), 0u) << "seen by all three tasks";

    socket.Arrive(Datagram(9, 22), "192.168.77.4");
    EXPECT_TRUE(Run(a, 200, 3));
    EXPECT_TRUE(Run(b, 231, 3));
    EXPECT_EQ(list.Size(), 0u) << "older than 30 s";
}

TEST_F(LanExchangeTest, AFloodIsReadInBoundedBitesAndCannotSwampTheTask)
{
    RecordingLanTask task(1, 10);
    task.announced = true;
    for (int i = 0; i < 10000; ++i) {
        socket.Arrive(Datagram(i % 2 == 0 ? 1 : static_cast<uint8_t>(2 + i % 200), static_cast<uint8_t>(i)),
                      "192.168.77.2");
    }
    EXPECT_TRUE(Run(task));
    EXPECT_EQ(socket.waiting.size(), 10000u - TLanExchange::kMaxReads);
    EXPECT_EQ(task.peers.size(), TLanExchange::kMaxNewPeers);
    EXPECT_EQ(socket.sent.size(), 1u) << "one answer per call";
    while (!socket.waiting.empty())
        EXPECT_TRUE(Run(task));
    EXPECT_LE(list.Size(), TLanList::kMaxEntries);
}
