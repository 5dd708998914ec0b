#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/base/engine_clock.h"
#include "engine/core/engine_state.h"
#include "engine/net/bt_peer.h"
#include "engine/net/listen_settings.h"
#include "engine/net/udp_identity.h"
#include "platform/tick.h"
#include "tests/engine/net/fake_stream_transport.h"
#include "tests/engine/net/loopback.h"
#include "tests/engine/net/memory_peer_task.h"

namespace {

std::vector<uint8_t> Pattern(int64_t size)
{
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    for (int64_t i = 0; i < size; ++i)
        bytes[static_cast<size_t>(i)] = static_cast<uint8_t>(i * 131 + i / 4099);
    return bytes;
}

std::vector<uint8_t> Handshake(uint8_t idByte, uint8_t hashByte = 0xAB, bool ourEngine = false)
{
    std::vector<uint8_t> bytes(68, 0);
    bytes[0] = 19;
    std::memcpy(bytes.data() + 1, "BitTorrent protocol", 19);
    std::memset(bytes.data() + 28, hashByte, 20);
    std::memset(bytes.data() + 48, idByte, 20);
    if (ourEngine) {
        const uint8_t prefix[4] = {0x00, 0x01, 'Q', 'l'};
        std::memcpy(bytes.data() + 48, prefix, 4);
    }
    return bytes;
}

std::vector<uint8_t> Message(uint8_t id, const std::vector<uint8_t> &payload = {})
{
    std::vector<uint8_t> bytes(4);
    WriteBigEndian32(bytes.data(), static_cast<uint32_t>(payload.size() + 1));
    bytes.push_back(id);
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    return bytes;
}

std::vector<uint8_t> Fields(std::initializer_list<uint32_t> values)
{
    std::vector<uint8_t> bytes;
    for (uint32_t v : values) {
        uint8_t b[4];
        WriteBigEndian32(b, v);
        bytes.insert(bytes.end(), b, b + 4);
    }
    return bytes;
}

std::vector<uint8_t> operator+(std::vector<uint8_t> a, const std::vector<uint8_t> &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The remote side of one connection, scripted by the test; the peer under
// test is ticked while the remote waits.
class BtPeerTest : public ::testing::Test {
protected:
    static constexpr int32_t kPiece = 65536;
    static constexpr int64_t kSize = 16LL * kPiece + 1000; // 17 pieces, a short last one

    void SetUp() override
    {
        SetListenEnabled(true);
        SetHttpWrap(false);
        port = ListenOnLoopback(listener);
        ASSERT_NE(port, 0);
        task.handshake = Handshake(0x11);
        content = Pattern(kSize);
    }
    void TearDown() override
    {
        SetListenEnabled(false);
        SetHttpWrap(false);
    }

    TBTPeer *Dial(int32_t attempts = 0)
    {
        address.reset(new TPeerId);
        EXPECT_TRUE(address->Parse("btnode://127.0.0.1:" + std::to_string(port)));
        address->attempts = attempts;
        peer.reset(new TBTPeer(&task));
        attached = peer->AttachAddress(address.get());
        return peer.get();
    }

    bool AcceptRemote()
    {
        for (int i = 0; i < 2000 && !listener.WaitReadable(0); ++i) {
            peer->DownloadTick();
            platform::SleepMs(1);
        }
        remote = listener.Accept();
        return remote != nullptr;
    }

    // Ticks the peer (download and upload) until done() or the peer fails.
    bool Drive(const std::function<bool()> &done, int rounds = 5000)
    {
        for (int round = 0; round < rounds; ++round) {
            if (remote && remote->HasHandle()) {
                remote->Flush();
                remote->Receive(1 << 20);
            }
            if (done())
                return true;
            lastTick = peer->DownloadTick() && peer->UploadTick();
            if (!lastTick)
                return done();
            platform::SleepMs(1);
        }
        return false;
    }

    std::string Received() const
    {
        return std::string(remote->ReceiveBuffer().Text(), static_cast<size_t>(remote->ReceiveLength()));
    }
    bool ReceivedAtLeast(int32_t n) const { return remote->ReceiveLength() >= n; }
    void Send(const std::vector<uint8_t> &bytes) { remote->Send(bytes.data(), static_cast<int32_t>(bytes.size())); }
    void Consume(int32_t n) { remote->ConsumeReceived(n); }

    // Dials, accepts, and exchanges handshakes: the remote has read the
    // handshake, bitfield, interested and unchoke.
    void OpenSession(uint8_t idByte = 0x22, bool ourEngine = false)
    {
        Dial();
        ASSERT_TRUE(attached);
        ASSERT_TRUE(AcceptRemote());
        ASSERT_TRUE(Drive([&] { return ReceivedAtLeast(68); }));
        Consume(68);
        Send(Handshake(idByte, 0xAB, ourEngine));
        const int32_t session = 4 + 1 + 3 + 5 + 5; // bitfield of 3 bytes, interested, unchoke
        ASSERT_TRUE(Drive([&] { return ReceivedAtLeast(session); }));
        ASSERT_EQ(peer->stage, PEER_STAGE_USABLE);
        Consume(session);
    }

    // Reads the requests the peer sent; (index, begin, length) each.
    std::vector<TBtBlockRef> TakeRequests()
    {
        std::vector<TBtBlockRef> refs;
        for (;;) {
            TBtMessage message;
            if (NextBtFrame(remote->ReceiveBuffer().Data(), remote->ReceiveLength(), message) != TBtFrame::Complete)
                return refs;
            TBtBlockRef ref;
            if (message.hasId && message.id == BT_REQUEST && ParseBlockFields(message, ref))
                refs.push_back(ref);
            Consume(message.frameLength);
        }
    }

    std::vector<uint8_t> PieceMessage(const TBtBlockRef &ref)
    {
        int64_t offset = static_cast<int64_t>(ref.index) * kPiece + ref.begin;
        std::vector<uint8_t> data(content.begin() + offset, content.begin() + offset + ref.length);
        return Message(BT_PIECE, Fields({ref.index, ref.begin}) + data);
    }

    TMemoryPeerTask task{kSize, kPiece};
    QSocket listener;
    int32_t port = 0;
    std::unique_ptr<QSocket> remote;
    std::vector<uint8_t> content;
    std::unique_ptr<TPeerId, Released> address;
    std::unique_ptr<TBTPeer, Released> peer;
    bool attached = false;
    bool lastTick = true;
};

} // namespace

TEST_F(BtPeerTest, SessionOpensWithBitfieldInterestedAndUnchokeAndKeepsTheRemoteId)
{
    task.MarkPresent(0, 0, content);
    task.MarkPresent(16, 16, content);
    Dial();
    ASSERT_TRUE(attached);
    ASSERT_TRUE(AcceptRemote());
    ASSERT_TRUE(Drive([&] { return ReceivedAtLeast(68); }));
    EXPECT_EQ(Received().substr(0, 68), std::string(task.handshake.begin(), task.handshake.end()))
        << "no disguise on a first plain attempt";
    Consume(68);
    // 67 bytes wait.
    std::vector<uint8_t> theirs = Handshake(0x22);
    Send(std::vector<uint8_t>(theirs.begin(), theirs.end() - 1));
    ASSERT_FALSE(Drive([&] { return peer->stage == PEER_STAGE_USABLE; }, 50));
    EXPECT_TRUE(lastTick);
    Send({theirs.back()});
    ASSERT_TRUE(Drive([&] { return ReceivedAtLeast(18); }));
    std::vector<uint8_t> expected = Message(BT_BITFIELD, {0x80, 0x00, 0x80}) + Message(BT_INTERESTED) +
                                    Message(BT_UNCHOKE);
    EXPECT_EQ(Received(), std::string(expected.begin(), expected.end()));
    EXPECT_EQ(std::memcmp(address->peerId.data(), theirs.data() + 48, 20), 0) << "the remote id is kept";
    EXPECT_EQ(std::memcmp(peer->RemotePeerId(), theirs.data() + 48, 20), 0);
    EXPECT_TRUE(peer->RemoteChokes());
    EXPECT_FALSE(peer->ChokedByUs());
}

TEST_F(BtPeerTest, HandshakeThatNeverCompletesFailsAfterTwelveSeconds)
{
    Dial();
    ASSERT_TRUE(AcceptRemote());
    ASSERT_TRUE(Drive([&] { return ReceivedAtLeast(68); }));
    std::vector<uint8_t> theirs = Handshake(0x22);
    Send(std::vector<uint8_t>(theirs.begin(), theirs.begin() + 67));
    EXPECT_FALSE(Drive([] { return false; }, 30));
    EXPECT_TRUE(lastTick);
    AdvanceEngineClock(13);
    EXPECT_FALSE(Drive([] { return false; }, 30));
    EXPECT_FALSE(lastTick);
}

TEST_F(BtPeerTest, WrongInfoHashOrOurOwnIdIsRefused)
{
    for (const std::vector<uint8_t> &theirs : {Handshake(0x22, 0xCD), Handshake(0x11)}) {
        Dial();
        ASSERT_TRUE(AcceptRemote());
        ASSERT_TRUE(Drive([&] { return ReceivedAtLeast(68); }));
        Send(theirs);
        EXPECT_FALSE(Drive([] { return false; }, 200));
        EXPECT_FALSE(lastTick);
        EXPECT_EQ(peer->stage, PEER_STAGE_NONE);
    }
}

TEST_F(BtPeerTest, BitfieldOfExactSizeIsMaskedAndAWrongSizeFails)
{
    OpenSession();
    Send(Message(BT_BITFIELD, {0xFF, 0xFF, 0xFF}));
    ASSERT_TRUE(Drive([&] { return peer->RemotePieceCount() > 0; }));
    EXPECT_EQ(peer->RemotePieceCount(), 17) << "the 7 spare bits count nothing";
    EXPECT_EQ(peer->RemoteHave().back(), 0x80);
    Send(Message(BT_BITFIELD, {0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_FALSE(Drive([] { return false; }, 200));
    EXPECT_FALSE(lastTick);
}

TEST_F(BtPeerTest, MalformedMessagesAreSkippedOneByOne)
{
    OpenSession();
    int32_t before = peer->failures;
    // Each bad message sits between good ones in a single write: framing
    // holds, so the good ones still count.
    Send(Message(BT_HAVE, Fields({17})) +             // past the pieces
         Message(BT_HAVE, {0, 0}) +                     // short
         Message(BT_HAVE, Fields({3})) +
         Message(BT_REQUEST, Fields({0, 0})) +          // short
         Message(BT_CANCEL, Fields({0, 100, 16384})) +  // off a boundary
         Message(BT_PIECE, Fields({0})) +               // no data
         Message(BT_PIECE, Fields({99, 0}) + std::vector<uint8_t>(16, 1)) + // no such piece
         Message(42, {1, 2, 3}) +                       // unknown id: skipped, no failure
         Message(BT_HAVE, Fields({5})));
    ASSERT_TRUE(Drive([&] { return peer->RemotePieceCount() == 2; }));
    EXPECT_TRUE(lastTick);
    EXPECT_EQ(peer->failures - before, 6);
    EXPECT_TRUE(BitSet(peer->RemoteHave(), 3));
    EXPECT_TRUE(BitSet(peer->RemoteHave(), 5));
    EXPECT_EQ(peer->RemoteHave().size(), 3u) << "nothing written past the map";
}

TEST_F(BtPeerTest, OversizedLengthDropsTheConnection)
{
    OpenSession();
    Send({0xFF, 0xFF, 0xFF, 0xFF, BT_PIECE});
    EXPECT_FALSE(Drive([] { return false; }, 200));
    EXPECT_FALSE(lastTick);
}

TEST_F(BtPeerTest, DownloadsEveryPieceAndTakesOnlyBlocksItAskedFor)
{
    OpenSession();
    Send(Message(BT_BITFIELD, {0xFF, 0xFF, 0x80}) + Message(BT_UNCHOKE));
    int32_t shifted = 0;
    ASSERT_TRUE(Drive([&] {
        for (const TBtBlockRef &ref : TakeRequests()) {
            EXPECT_TRUE(BlockInBounds(ref, {kSize, kPiece, 17}));
            // First zeros 100 bytes off the asked offset: they would land
            // in the right block at the wrong place.
            if (shifted < 3 && ref.length == 16384) {
                ++shifted;
                Send(Message(BT_PIECE, Fields({ref.index, ref.begin + 100}) + std::vector<uint8_t>(16384, 0)));
            }
            Send(PieceMessage(ref));
        }
        return task.HasAllPieces();
    }, 20000));
    EXPECT_TRUE(task.data == content);
    EXPECT_EQ(peer->failures, 3);
    EXPECT_TRUE(lastTick);
    EXPECT_LE(peer->sentRequests, TBTPeer::kMaxInFlight);
}

TEST_F(BtPeerTest, ChokeReturnsRequestsAndALateBlockIsStillTaken)
{
    OpenSession();
    Send(Message(BT_BITFIELD, {0xFF, 0xFF, 0x80}) + Message(BT_UNCHOKE));
    std::vector<TBtBlockRef> asked;
    ASSERT_TRUE(Drive([&] {
        asked = TakeRequests();
        return !asked.empty();
    }));
    Send(Message(BT_CHOKE));
    ASSERT_TRUE(Drive([&] { return peer->RemoteChokes() && peer->requests.empty(); }));
    EXPECT_EQ(peer->sentRequests, 0);
    EXPECT_GE(task.Scheduling().Pending().size(), asked.size());
    bool cancelled = false;
    ASSERT_TRUE(Drive([&] {
        TBtMessage message;
        while (NextBtFrame(remote->ReceiveBuffer().Data(), remote->ReceiveLength(), message) == TBtFrame::Complete) {
            cancelled = cancelled || message.id == BT_CANCEL;
            Consume(message.frameLength);
        }
        return cancelled;
    }));
    // The block was on its way: it goes to the piece store from the pending list.
    Send(PieceMessage(asked.front()));
    ASSERT_TRUE(Drive([&] { return task.writes == 1; }));
    EXPECT_TRUE(lastTick);
}

TEST_F(BtPeerTest, RequestsAreServedWithinBoundsAndTheQueueIsCapped)
{
    task.MarkPresent(0, 16, content);
    OpenSession();
    // Ignored while we choke.
    peer->SetChoke(true);
    Send(Message(BT_REQUEST, Fields({1, 0, 16384})));
    ASSERT_TRUE(Drive([&] { return remote->ReceiveLength() >= 5; }));
    Consume(5);
    ASSERT_FALSE(Drive([&] { return !peer->remoteRequests.empty(); }, 50));
    peer->SetChoke(false);
    ASSERT_TRUE(Drive([&] { return remote->ReceiveLength() >= 5; }));
    Consume(5);

    // A flood of distinct requests: the queue keeps 500.
    task.uploadAllowance = 0;
    std::vector<uint8_t> flood;
    for (uint32_t i = 1; i <= 600; ++i)
        flood = flood + Message(BT_REQUEST, Fields({0, 0, i}));
    Send(flood);
    ASSERT_TRUE(Drive([&] { return peer->remoteRequests.size() == TBTPeer::kMaxRemoteRequests; }));
    ASSERT_FALSE(Drive([&] { return peer->remoteRequests.size() > TBTPeer::kMaxRemoteRequests; }, 50));
    peer->SetChoke(true);
    EXPECT_TRUE(peer->remoteRequests.empty());
    peer->SetChoke(false);

    // Duplicates and bad blocks add nothing.
    flood.clear();
    for (int i = 0; i < 700; ++i)
        flood = flood + Message(BT_REQUEST, Fields({static_cast<uint32_t>(i % 16), 16384u * (i / 16 % 4), 16384}));
    flood = flood + Message(BT_REQUEST, Fields({16, 0, 1001})) + Message(BT_REQUEST, Fields({16, 0, 1000}));
    Send(flood);
    ASSERT_TRUE(Drive([&] { return peer->remoteRequests.size() == 65; }));
    EXPECT_EQ(peer->failures, 1) << "only the block past the end is malformed";

    // Served: exact bytes at the asked places.
    task.uploadAllowance = INT32_MAX;
    int64_t total = 64 * 16384 + 1000;
    ASSERT_TRUE(Drive([&] { return remote->ReceiveLength() >= total + 65 * 13; }, 20000));
    std::vector<uint8_t> seen(static_cast<size_t>(kSize), 0);
    for (;;) {
        TBtMessage message;
        if (NextBtFrame(remote->ReceiveBuffer().Data(), remote->ReceiveLength(), message) != TBtFrame::Complete)
            break;
        TBtBlockRef ref;
        if (message.id != BT_PIECE || !ParsePieceFields(message, ref)) {
            Consume(message.frameLength);
            continue;
        }
        int64_t offset = static_cast<int64_t>(ref.index) * kPiece + ref.begin;
        std::memcpy(seen.data() + offset, message.payload + 8, ref.length);
        Consume(message.frameLength);
    }
    EXPECT_TRUE(seen == content);
    EXPECT_EQ(task.uploaded, total);
}

TEST_F(BtPeerTest, CannotServeGoesOnlyToOurEngineAndIsTakenBack)
{
    task.MarkPresent(0, 0, content);
    OpenSession(0x22, true);
    // Piece 1 is missing here: a request for it cannot be served.
    Send(Message(BT_BITFIELD, {0x40, 0, 0}) + Message(BT_UNCHOKE));
    ASSERT_TRUE(Drive([&] { return !TakeRequests().empty(); }));
    ASSERT_FALSE(peer->requests.empty());
    // Their notice: piece 1 cannot be had; our requests go back to the task.
    Send(Message(BT_PIECE, Fields({0, 2}) + std::vector<uint8_t>{0x35, 0, 0, 0, 1}));
    ASSERT_TRUE(Drive([&] { return !BitSet(peer->RemoteHave(), 1); }));
    EXPECT_TRUE(peer->requests.empty());
    EXPECT_EQ(task.writes, 0);
    EXPECT_EQ(peer->failures, 0);

    // Our piece 0 cannot be read back: the notice names it.
    task.failReads = true;
    Consume(remote->ReceiveLength());
    Send(Message(BT_REQUEST, Fields({0, 0, 16384})) + Message(BT_REQUEST, Fields({0, 16384, 16384})));
    ASSERT_TRUE(Drive([&] { return ReceivedAtLeast(kCannotServeBytes); }));
    TBtMessage notice;
    ASSERT_EQ(NextBtFrame(remote->ReceiveBuffer().Data(), remote->ReceiveLength(), notice), TBtFrame::Complete);
    EXPECT_EQ(CannotServePiece(notice), 0);
    EXPECT_TRUE(peer->remoteRequests.empty()) << "every request in the piece goes";
}

TEST_F(BtPeerTest, StandardPeerGetsNoCannotServeNotice)
{
    task.MarkPresent(0, 0, content);
    OpenSession(0x22, false);
    task.failReads = true;
    Send(Message(BT_REQUEST, Fields({0, 0, 16384})));
    ASSERT_TRUE(Drive([&] { return peer->remoteRequests.empty() && task.uploadsThisRound >= 0; }, 100));
    EXPECT_FALSE(Drive([&] { return ReceivedAtLeast(1); }, 100));
}

TEST_F(BtPeerTest, DisguisedAttemptThatIsDroppedIsRetriedPlainAtOnce)
{
    SetHttpWrap(true);
    Dial(1);
    ASSERT_TRUE(AcceptRemote());
    ASSERT_TRUE(Drive([&] { return Received().find("\r\n\r\n") != std::string::npos && Received().size() >= 100; }));
    EXPECT_EQ(Received().rfind("GET / HTTP/1.0\r\nHost: 16777343:", 0), 0u) << Received();
    EXPECT_TRUE(peer->SentDisguised());
    remote->Close();
    ASSERT_TRUE(AcceptRemote()) << "a plain attempt follows at once";
    ASSERT_TRUE(Drive([&] { return ReceivedAtLeast(68); }));
    EXPECT_EQ(Received().substr(0, 68), std::string(task.handshake.begin(), task.handshake.end()));
    EXPECT_TRUE(address->plainOnly);

    // A standard client's id is never dialled disguised again.
    Send(Handshake(0x22));
    ASSERT_TRUE(Drive([&] { return peer->stage == PEER_STAGE_USABLE; }));
    address->plainOnly = false;
    remote->Close();
    remote.reset();
    peer->AttachAddress(address.get());
    EXPECT_FALSE(peer->SentDisguised());
}

TEST_F(BtPeerTest, DisguisedIncomingIsAnsweredInKind)
{
    QSocket dialer;
    ASSERT_TRUE(dialer.Connect(Loopback(), port, false));
    std::unique_ptr<QSocket> accepted = AcceptWithin(listener);
    ASSERT_TRUE(accepted);
    ASSERT_TRUE(dialer.WaitWritable(5) && dialer.IsConnected());
    accepted->SetDisguised();
    peer.reset(new TBTPeer(&task));
    ASSERT_TRUE(peer->AttachSocket(std::move(accepted)));
    ASSERT_TRUE(peer->Greet());
    std::string seen;
    for (int i = 0; i < 2000 && seen.size() < 100; ++i) {
        peer->FlushOutput();
        dialer.Receive(4096);
        seen.assign(dialer.ReceiveBuffer().Text(), static_cast<size_t>(dialer.ReceiveLength()));
        platform::SleepMs(1);
    }
    EXPECT_EQ(seen.rfind("HTTP/1.0 200 OK\r\nConnection: ", 0), 0u) << seen;
    size_t end = seen.find("\r\n\r\n");
    ASSERT_NE(end, std::string::npos);
    EXPECT_EQ(seen.substr(end + 4, 68), std::string(task.handshake.begin(), task.handshake.end()));
}

TEST_F(BtPeerTest, EndlessDisguiseHeaderFails)
{
    Dial();
    ASSERT_TRUE(AcceptRemote());
    ASSERT_TRUE(Drive([&] { return ReceivedAtLeast(68); }));
    std::string header = "HTTP/1.0 200 OK\r\n";
    while (header.size() < 5000)
        header += "X-Filler: 0123456789abcdef\r\n";
    Send(std::vector<uint8_t>(header.begin(), header.end()));
    EXPECT_FALSE(Drive([] { return false; }, 500));
    EXPECT_FALSE(lastTick);
}

TEST_F(BtPeerTest, KeepAliveAfterNinetyQuietSeconds)
{
    OpenSession();
    AdvanceEngineClock(91);
    ASSERT_TRUE(Drive([&] { return ReceivedAtLeast(4); }));
    EXPECT_EQ(Received(), std::string(4, '\0'));
}

TEST_F(BtPeerTest, CarvesTheTailOfAServerRangeAndFetchesItDownwards)
{
    TPieceRange *server = task.Scheduling().AddRange(0, 16, nullptr, nullptr);
    ASSERT_NE(server, nullptr);
    OpenSession();
    Send(Message(BT_BITFIELD, {0xFF, 0xFF, 0x80}) + Message(BT_UNCHOKE));
    std::vector<uint32_t> order;
    ASSERT_TRUE(Drive([&] {
        for (const TBtBlockRef &ref : TakeRequests()) {
            if (order.empty() || order.back() != ref.index)
                order.push_back(ref.index);
            // The server finishes its range meanwhile: once ours is done,
            // no range is left to carve from.
            if (server != nullptr) {
                task.Scheduling().RemoveRange(server);
                server = nullptr;
            }
            Send(PieceMessage(ref));
        }
        return task.HasAllPieces();
    }, 20000));
    EXPECT_TRUE(task.data == content);
    ASSERT_GE(order.size(), 6u);
    // Six pieces hold the 24 blocks of a carved run; the highest comes first.
    EXPECT_EQ(std::vector<uint32_t>(order.begin(), order.begin() + 6), (std::vector<uint32_t>{16, 15, 14, 13, 12, 11}));
    EXPECT_TRUE(task.Scheduling().Ranges().empty());
}

TEST_F(BtPeerTest, DisguisedAttemptAnsweredInKindOpensTheSession)
{
    SetHttpWrap(true);
    Dial(4);
    ASSERT_TRUE(AcceptRemote());
    std::string request;
    ASSERT_TRUE(Drive([&] {
        request = Received();
        size_t end = request.find("\r\n\r\n");
        return end != std::string::npos && request.size() >= end + 4 + 68;
    }));
    EXPECT_NE(request.find("User-Agent: Mozilla/4.0"), std::string::npos) << "even attempt counts name an agent";
    std::string answer = "HTTP/1.0 200 OK\r\nConnection: Keep-Alive\r\n\r\n";
    Send(std::vector<uint8_t>(answer.begin(), answer.end()) + Handshake(0x22, 0xAB, true));
    ASSERT_TRUE(Drive([&] { return peer->stage == PEER_STAGE_USABLE; }));
    EXPECT_FALSE(address->plainOnly);
}

// The first attempt to an address goes over the UDP stream transport while
// the task wants it, named by the address form (the id is unknown), with
// its own connect limit and never behind the HTTP disguise.
TEST_F(BtPeerTest, FirstAttemptGoesOverTheUdpTransportWithoutDisguise)
{
    FakeStreamTransport transport;
    TransportRegistered registered(&transport);
    task.wantsUdp = true;
    SetHttpWrap(true);
    Dial(0);
    ASSERT_TRUE(attached);
    EXPECT_TRUE(peer->OverUdp());
    const TUdpTag tag = UdpAddressTag(Loopback(), static_cast<uint16_t>(port));
    EXPECT_EQ(std::memcmp(transport.connectedTo.padding, tag.data(), tag.size()), 0);
    EXPECT_EQ(transport.connectedTo.port, port);

    AdvanceEngineClock(25);
    EXPECT_TRUE(peer->DownloadTick()) << "past the TCP limit, within the UDP one";
    transport.established = true;
    ASSERT_TRUE(Drive([&] { return transport.sent.size() >= 68; }, 100));
    EXPECT_EQ(transport.sent, std::string(task.handshake.begin(), task.handshake.end())) << "no disguise over UDP";
    EXPECT_FALSE(peer->SentDisguised());
    AdvanceEngineClock(5);
    EXPECT_TRUE(peer->DownloadTick()) << "the handshake's 12 s run from the connect's completion";

    transport.established = false;
    Dial(0);
    AdvanceEngineClock(28);
    EXPECT_TRUE(peer->DownloadTick());
    AdvanceEngineClock(1);
    EXPECT_FALSE(peer->DownloadTick()) << "a connect still pending after 28 s fails";
    peer.reset(); // its socket goes back to the transport before that goes
}

TEST_F(BtPeerTest, OtherAttemptsAndLanAddressesGoOverTcp)
{
    FakeStreamTransport transport;
    TransportRegistered registered(&transport);
    task.wantsUdp = true;
    for (int32_t attempts : {1, 2}) {
        Dial(attempts);
        EXPECT_FALSE(peer->OverUdp()) << "attempt " << attempts;
        ASSERT_TRUE(AcceptRemote());
        remote.reset();
    }
    address.reset(new TPeerId);
    ASSERT_TRUE(address->Parse("btnode://127.0.0.1:" + std::to_string(port)));
    address->origin = 35;
    peer.reset(new TBTPeer(&task));
    ASSERT_TRUE(peer->AttachAddress(address.get()));
    EXPECT_FALSE(peer->OverUdp());
    ASSERT_TRUE(AcceptRemote());

    task.wantsUdp = false;
    Dial(3);
    EXPECT_FALSE(peer->OverUdp());
    EXPECT_TRUE(transport.open.empty()) << "no transport socket was opened";
}
