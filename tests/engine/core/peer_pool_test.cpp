#include <gtest/gtest.h>

#include "engine/base/engine_clock.h"
#include "engine/core/engine_interface.h"
#include "engine/net/ipv4_address.h"
#include "engine/net/listen_settings.h"
#include "tests/engine/core/task_harness.h"

#include <algorithm>
#include <cstring>

namespace {

class PeerPoolTest : public ::testing::Test {
protected:
    void SetUp() override { task.taskClock = 5000; }
    THarnessTask task;
};

TEST_F(PeerPoolTest, SameSourceTwiceIsOneCandidate)
{
    task.sources = {{"http://127.0.0.1:8001/f.bin", 0}, {"HTTP://127.0.0.1:8001/F.BIN", 0},
                    {"http://127.0.0.1:8002/f.bin", 0}};
    task.ProcessSources();
    EXPECT_EQ(task.candidates.size(), 2u);
    for (const TSourceEntry &entry : task.sources)
        EXPECT_EQ(entry.mark, SOURCE_MARK_IN_USE);
    task.ProcessSources();
    EXPECT_EQ(task.candidates.size(), 2u) << "sources in use are not processed again";
    task.ReleaseSourceMarks();
    EXPECT_EQ(task.sources[0].mark, SOURCE_MARK_NEW);
    EXPECT_EQ(task.candidates.front()->origin, ORIGIN_SOURCE);
}

TEST_F(PeerPoolTest, TorrentAndDataFromOneServerAreTwoCandidates)
{
    task.sources = {{"http://127.0.0.1:8001/f.torrent", SOURCE_MARK_MAIN_UNUSED}, {"http://127.0.0.1:8001/f.bin", 0},
                    {"http://127.0.0.1:8001/g.bin", 0}};
    task.ProcessSources();
    ASSERT_EQ(task.candidates.size(), 2u) << "two data URLs of one server are one candidate, the torrent another";
    EXPECT_EQ(task.sources[0].mark, SOURCE_MARK_MAIN_IN_USE);
    int main = 0;
    for (TPeerId *c : task.candidates) {
        if (c->mainTorrent) {
            ++main;
            EXPECT_TRUE(c->Parts().wholeContent);
            EXPECT_EQ(c->allowance, 1);
        }
    }
    EXPECT_EQ(main, 1);
}

TEST_F(PeerPoolTest, UnresolvedSourceSetsTheHostState)
{
    task.sources = {{"http://nowhere.invalid/f.bin", 0}};
    task.ProcessSources();
    EXPECT_TRUE(task.candidates.empty());
    EXPECT_EQ(task.live.state, TASK_STATE_HOST_NOT_FOUND);
}

TEST_F(PeerPoolTest, PeerLimitsLastUntilThePeersAreReset)
{
    EXPECT_EQ(task.maxServers.load(), 49);
    EXPECT_GT(task.maxPeers.load(), 0) << "peers are usable before the application sets limits";
    task.SetPeerLimits(10, 20);
    EXPECT_EQ(task.maxServers.load(), 10);
    EXPECT_EQ(task.maxPeers.load(), 20);
    task.Reset(false, false);
    EXPECT_EQ(task.maxServers.load(), 49);
    EXPECT_EQ(task.maxPeers.load(), 20);
}

TEST_F(PeerPoolTest, BadServersAreDroppedWithTheirConnections)
{
    TPeerId *bad = task.AddServer(8001);
    ASSERT_NE(bad, nullptr);
    bad->outcomes = 60;
    bad->failedOutcomes = 40;
    TPeerId *poor = task.AddServer(8002);
    poor->outcomes = 31;
    poor->failedOutcomes = 31;
    TScriptedPeer *peer = task.AddPeer(PEER_KIND_HTTP);
    peer->AttachAddress(bad);
    task.DropBadServers();
    ASSERT_EQ(task.candidates.size(), 1u);
    EXPECT_EQ(task.candidates.front()->port, 8002) << "31 of 31 is below the 32 failures that condemn";
    EXPECT_TRUE(task.connections.empty());
}

TEST_F(PeerPoolTest, PenaltyGrowsWithTheFailures)
{
    TPeerId *server = task.AddServer(8001);
    task.Penalize(server, nullptr, 1);
    EXPECT_EQ(server->backOff, 1);
    EXPECT_EQ(server->failures, 1);
    task.Penalize(server, nullptr, 1);
    EXPECT_EQ(server->backOff, 2);
    task.Penalize(server, nullptr, 15);
    EXPECT_EQ(server->backOff, 2 + 3 + 15);
    EXPECT_EQ(server->failures, 3);

    // A server with several connections open only pauses briefly.
    server->useCount = 2;
    server->backOff = 0;
    task.Penalize(server, nullptr, 15);
    EXPECT_EQ(server->backOff, 2);
    EXPECT_EQ(server->failures, 3);

    // An accepted connection never penalizes the address it came from.
    TScriptedPeer *incoming = task.AddPeer(PEER_KIND_BT);
    incoming->AttachSocket(std::make_unique<QSocket>());
    server->useCount = 0;
    task.Penalize(server, incoming, 15);
    EXPECT_EQ(server->backOff, 2);
}

TEST_F(PeerPoolTest, CandidateListIsBoundedAndKeepsTheBest)
{
    TPeerId *server = task.AddServer(8001);
    for (uint32_t i = 0; i < 2100; ++i)
        task.AddBtAddress(HostToNetwork32(0x0A000000u + i + 1), 6881, PEER_KIND_BT, false, ORIGIN_BT_MINIMUM);
    EXPECT_EQ(task.candidates.size(), TWorkWithPeers::kMaxCandidates);
    task.SortCandidates();
    EXPECT_EQ(task.candidates.front(), server) << "the source outranks the peers";
    TPeerId *again = task.AddBtAddress(HostToNetwork32(0x0A000001u), 6881, PEER_KIND_BT, false, 40);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again->origin, 40) << "a known address takes the new origin";
    EXPECT_EQ(task.candidates.size(), TWorkWithPeers::kMaxCandidates);
}

TEST_F(PeerPoolTest, PeersAtLoopbackAndOurOwnIdAreRefused)
{
    auto own = TRef<TPeerId>::Adopt(new TPeerId);
    ASSERT_TRUE(own->Parse("btnode://127.0.0.1:6881"));
    EXPECT_FALSE(task.AddCandidate(own, true, false));
    EXPECT_TRUE(task.candidates.empty());
}

TEST_F(PeerPoolTest, MirrorsBeyondTheHostListKeepTheirOwnHost)
{
    task.AddMirrors("http://127.0.0.1:8001/a\nhttp://127.0.0.1:8002/b", "cdn.example");
    task.AddMirrorsLocked("", "");
    // Draws are random; enough of them find both mirrors.
    for (int i = 0; i < 20 && task.candidates.size() < 2; ++i)
        task.TWorkWithPeers::AddMirrors(2, false);
    ASSERT_EQ(task.candidates.size(), 2u);
    for (TPeerId *c : task.candidates) {
        if (c->port == 8001) {
            EXPECT_EQ(c->Parts().host, "cdn.example");
        } else {
            EXPECT_EQ(c->Parts().host, "127.0.0.1") << "a missing host name reads as null";
        }
    }
    task.ClearMirrors();
    // No mirrors: nothing to draw from, and no division by zero.
    task.TWorkWithPeers::AddMirrors(3, false);
    EXPECT_EQ(task.candidates.size(), 2u);
}

TEST_F(PeerPoolTest, SwitchOffDropsTwoPeersATick)
{
    SetListenEnabled(false);
    for (int i = 0; i < 4; ++i)
        task.AddPeer(PEER_KIND_BT);
    task.AddPeer(PEER_KIND_HTTP);
    task.StatTick(false);
    EXPECT_EQ(task.PeerConnectionCount(), 2);
    task.StatTick(false);
    EXPECT_EQ(task.PeerConnectionCount(), 0);
    EXPECT_EQ(task.connections.size(), 1u) << "server connections stay";
}

TEST_F(PeerPoolTest, DroppedConnectionReturnsItsBlocksAndReleasesItsRange)
{
    ASSERT_TRUE(task.MakeDataFile(10 * 65536));
    TPeerId *server = task.AddServer(8001);
    TScriptedPeer *peer = task.AddPeer(PEER_KIND_HTTP);
    peer->AttachAddress(server);
    server->useCount = 1;
    ASSERT_TRUE(peer->PlanRequests());
    ASSERT_NE(peer->Range(), nullptr);
    TPieceRange *range = peer->Range();
    auto held = TRef<TPeerObject>::Share(peer);
    task.RemoveConnection(peer, 1);
    EXPECT_EQ(task.Scheduling().Pending().size(), 4u);
    EXPECT_EQ(range->owner, nullptr);
    EXPECT_EQ(server->useCount, 0);
    EXPECT_EQ(server->failures, 1);
    // A server stream that plans those blocks takes them off the pending list.
    TScriptedPeer *next = task.AddPeer(PEER_KIND_HTTP);
    next->lastFinishedPiece = -1;
    ASSERT_TRUE(next->PlanRequests());
    EXPECT_EQ(next->requests.size(), 4u);
    EXPECT_TRUE(task.Scheduling().Pending().empty());
}

TEST_F(PeerPoolTest, RedirectTargetOnTheSameServerReplacesTheRedirectedAddress)
{
    TPeerId *moved = task.AddServer(8001);
    auto target = TRef<TPeerId>::Adopt(new TPeerId);
    ASSERT_TRUE(target->Parse("http://127.0.0.1:8001/elsewhere.bin"));
    EXPECT_TRUE(task.AddAddress(target));
    ASSERT_EQ(task.candidates.size(), 1u) << "one server is one candidate";
    EXPECT_EQ(task.candidates.front(), moved) << "an address that still answers keeps its place";

    moved->Parts().redirected = true;
    EXPECT_TRUE(task.AddAddress(target));
    ASSERT_EQ(task.candidates.size(), 1u);
    EXPECT_EQ(task.candidates.front(), target.Get()) << "the redirected address gives way to its target";
}

TEST_F(PeerPoolTest, FtpAndHttpSourcesConnectInOneRound)
{
    task.sources = {{"ftp://127.0.0.1:2121/f.bin", 0}, {"http://127.0.0.1:9/f.bin", 0}};
    task.ProcessSources();
    ASSERT_EQ(task.candidates.size(), 2u);
    task.ConnectServers();
    ASSERT_EQ(task.connections.size(), 2u);
    int32_t kinds = 0;
    for (TPeerObject *peer : task.connections)
        kinds |= peer->Kind();
    EXPECT_EQ(kinds, PEER_KIND_FTP | PEER_KIND_HTTP);
    for (TPeerId *c : task.candidates)
        EXPECT_EQ(c->backOff, 0) << c->url;
}

// A torrent of one 40000-byte file whose trackers are the given URLs.
std::string TorrentWithTrackers(const std::vector<std::string> &urls)
{
    std::string list = "l";
    for (const std::string &url : urls)
        list += "l" + std::to_string(url.size()) + ":" + url + "e";
    list += "e";
    std::string hashes(40, 'h');
    return "d8:announce" + std::to_string(urls[0].size()) + ":" + urls[0] + "13:announce-list" + list +
           "4:infod6:lengthi40000e4:name4:data12:piece lengthi32768e6:pieces40:" + hashes + "ee";
}

TEST_F(PeerPoolTest, TorrentTrackersBecomeCandidatesOnceWithoutHttps)
{
    task.isP2sp = true;
    ASSERT_TRUE(task.LoadTorrent(TorrentWithTrackers({"http://127.0.0.1:6969/announce", "https://127.0.0.1:6970/a",
                                                      "HTTP://127.0.0.1:6969/announce", "udp://127.0.0.1:6969/announce",
                                                      "wss://127.0.0.1:6971/a", "http://127.0.0.1:6969/other"})));
    task.BuildHandshake();
    std::vector<std::string> urls;
    for (TPeerId *c : task.candidates) {
        EXPECT_EQ(c->kind, PEER_KIND_TRACKER);
        EXPECT_EQ(c->origin, ORIGIN_SOURCE);
        urls.push_back(c->url);
    }
    std::sort(urls.begin(), urls.end());
    // One port serving HTTP and UDP is two trackers; two paths of one are one.
    EXPECT_EQ(urls, (std::vector<std::string>{"tracker://http://127.0.0.1:6969/announce",
                                              "tracker://udp://127.0.0.1:6969/announce"}));
}

TEST_F(PeerPoolTest, TrackerPeersBecomeBitTorrentCandidatesExceptLoopbackOne)
{
    auto peer = [](uint32_t hostOrder, int32_t port) {
        TTrackerPeerAddress address;
        address.address = HostToNetwork32(hostOrder);
        address.port = port;
        return address;
    };
    EXPECT_FALSE(task.AddTrackerPeer(peer(0x7F000001u, 6881))) << "the tracker lists the asker itself";
    ASSERT_TRUE(task.AddTrackerPeer(peer(0x7F000002u, 6881)));
    TTrackerPeerAddress named = peer(0x0A000005u, 51413);
    named.hasPeerId = true;
    named.peerId.fill('n');
    ASSERT_TRUE(task.AddTrackerPeer(named));
    ASSERT_TRUE(task.AddTrackerPeer(peer(0x7F000002u, 6881))) << "a known peer counts as taken";
    ASSERT_EQ(task.candidates.size(), 2u);
    for (TPeerId *c : task.candidates) {
        EXPECT_EQ(c->kind, PEER_KIND_BT);
        EXPECT_TRUE(c->parsed);
        EXPECT_EQ(c->origin, ORIGIN_BT_MINIMUM);
        if (c->port == 6881) {
            EXPECT_EQ(c->url, "btnode://127.0.0.2:6881");
            // Without an id the address and port stand in its last six bytes.
            EXPECT_EQ(std::vector<uint8_t>(c->peerId.begin() + 14, c->peerId.end()),
                      (std::vector<uint8_t>{127, 0, 0, 2, 0x1A, 0xE1}));
        } else {
            EXPECT_EQ(c->peerId, named.peerId);
        }
    }
}

TEST_F(PeerPoolTest, AnnounceFactsNeedTheInfoHashAndHttpGetsAFreshPeerId)
{
    TAnnounceFacts facts;
    EXPECT_FALSE(task.FillAnnounceFacts(facts, true)) << "no torrent, no announce";
    task.isP2sp = true;
    ASSERT_TRUE(task.LoadTorrent(TorrentWithTrackers({"http://127.0.0.1:6969/announce"})));
    EXPECT_FALSE(task.FillAnnounceFacts(facts, false)) << "the task's own id comes with its handshake";
    task.BuildHandshake();
    ASSERT_TRUE(task.FillAnnounceFacts(facts, false));
    // The handshake ends with the peer id.
    ASSERT_NE(task.Handshake(), nullptr);
    EXPECT_EQ(std::memcmp(facts.peerId.data(), task.Handshake() + 48, 20), 0);
    EXPECT_EQ(facts.left, 40000);
    TAnnounceFacts fresh;
    ASSERT_TRUE(task.FillAnnounceFacts(fresh, true));
    platform::SleepMs(2);
    TAnnounceFacts later;
    ASSERT_TRUE(task.FillAnnounceFacts(later, true));
    EXPECT_NE(fresh.peerId, later.peerId);
    EXPECT_NE(fresh.peerId, facts.peerId);
    EXPECT_EQ(std::vector<uint8_t>(fresh.peerId.begin(), fresh.peerId.begin() + 4),
              (std::vector<uint8_t>{0, 1, 'Q', 'l'}));
    EXPECT_EQ(std::memcmp(fresh.infoHash.data(), task.InfoHash(), 20), 0);
}

} // namespace
