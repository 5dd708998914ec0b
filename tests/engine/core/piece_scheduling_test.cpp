#include <gtest/gtest.h>
#include <openssl/evp.h>

#include "engine/base/engine_clock.h"
#include <fstream>
#include "engine/storage/pieces.h"
#include "tests/engine/core/task_harness.h"

namespace {

constexpr int64_t kPiece = 64 * 1024;

class PieceSchedulingTest : public ::testing::Test {
protected:
    void SetUp() override { task.taskClock = 1000000; }
    THarnessTask task;
};

TEST_F(PieceSchedulingTest, HttpGeometryDependsOnlyOnTheSize)
{
    EXPECT_EQ(TWorkWithPieces::PieceLengthForSize(1), 65536);
    EXPECT_EQ(TWorkWithPieces::PieceLengthForSize(2048 * kPiece), 65536);
    EXPECT_EQ(TWorkWithPieces::PieceLengthForSize(2048 * kPiece + 1), 131072);
    EXPECT_EQ(TWorkWithPieces::PieceLengthForSize(int64_t{1} << 30), 524288);
    EXPECT_EQ(TWorkWithPieces::PieceLengthForSize(int64_t{1} << 40), 16 * 1024 * 1024);
    ASSERT_TRUE(task.MakeDataFile(100 * kPiece - 5));
    EXPECT_EQ(task.PieceCount(), 100);
    EXPECT_EQ(task.haveMap.size(), 13u) << "the data file's piece count sized the have-map";
    EXPECT_TRUE(fs::exists(task.targetFile + ".qltmp"));
}

TEST_F(PieceSchedulingTest, ServerAddressesShareThePiecesAtTheStart)
{
    ASSERT_TRUE(task.MakeDataFile(100 * kPiece));
    task.AddServer(9001);
    task.AddServer(9002);
    task.AddServer(9003);
    task.Scheduling().EngageRanges();
    std::vector<std::pair<int32_t, int32_t>> spans;
    for (auto &range : task.Scheduling().Ranges())
        spans.emplace_back(range->first, range->last);
    std::sort(spans.begin(), spans.end());
    EXPECT_EQ(spans, (std::vector<std::pair<int32_t, int32_t>>{{0, 32}, {33, 65}, {66, 99}}));
}

TEST_F(PieceSchedulingTest, PlanningQueuesTheBlocksOfTheNextPiece)
{
    ASSERT_TRUE(task.MakeDataFile(10 * kPiece));
    task.AddServer(9001);
    TScriptedPeer *peer = task.AddPeer(PEER_KIND_HTTP);
    ASSERT_TRUE(peer->PlanRequests());
    ASSERT_NE(peer->Range(), nullptr);
    ASSERT_EQ(peer->requests.size(), 4u);
    EXPECT_EQ(peer->requests.front().block, 0);
    EXPECT_EQ(peer->requests.back().block, 3);
    // Planning stops while the queue exceeds what the speed warrants.
    ASSERT_TRUE(peer->PlanRequests());
    EXPECT_EQ(peer->requests.size(), 4u);
    // Faster, it plans again, skipping what is queued.
    peer->tick.speed = 64 * 1024;
    ASSERT_TRUE(peer->PlanRequests());
    EXPECT_EQ(peer->requests.size(), 8u);
    EXPECT_EQ(peer->requests.back().block, 7);
}

TEST_F(PieceSchedulingTest, QueueLimitFollowsTheSpeed)
{
    TScriptedPeer *peer = task.AddPeer(PEER_KIND_BT);
    peer->tick.speed = 64 * 1024;
    EXPECT_EQ(peer->QueueLimit(), 10);
    peer->tick.speed = 0;
    EXPECT_EQ(peer->QueueLimit(), 2);
}

TEST_F(PieceSchedulingTest, DeliveryTakesOnlyRequestedBlocksAndCountsThem)
{
    ASSERT_TRUE(task.MakeDataFile(10 * kPiece));
    task.AddServer(9001);
    TScriptedPeer *peer = task.AddPeer(PEER_KIND_HTTP);
    ASSERT_TRUE(peer->PlanRequests());
    std::vector<uint8_t> block(16384, 0x5A);
    EXPECT_FALSE(peer->DeliverBlock(9, 16384, block.data())) << "nobody asked for block 9";
    EXPECT_FALSE(peer->DeliverBlock(0, 16385, block.data())) << "longer than a block";
    EXPECT_FALSE(peer->DeliverBlock(-1, 16384, block.data()));
    EXPECT_TRUE(peer->DeliverBlock(0, 16384, block.data()));
    EXPECT_EQ(task.live.httpBytes, 16384u);
    EXPECT_EQ(peer->totalBytes, 16384);
    EXPECT_EQ(task.payloadIn, 2 * 16384) << "every arrival of a block counts as payload of the second";
    EXPECT_FALSE(peer->DeliverBlock(0, 16384, block.data())) << "a block is taken once";
    peer->connected = false;
    EXPECT_FALSE(peer->DeliverBlock(1, 16384, block.data()));
}

TEST_F(PieceSchedulingTest, UntouchedRangeIsTakenOverAfterTenSeconds)
{
    ASSERT_TRUE(task.MakeDataFile(10 * kPiece));
    task.AddServer(9001);
    TScriptedPeer *first = task.AddPeer(PEER_KIND_HTTP);
    ASSERT_GE(first->NextPiece(), 0);
    TPieceRange *range = first->Range();
    ASSERT_NE(range, nullptr);
    TScriptedPeer *second = task.AddPeer(PEER_KIND_HTTP);
    second->rangesHeld = 1;
    task.taskClock += 10;
    EXPECT_FALSE(task.Scheduling().AssignRange(*second)) << "10 s is not yet stalled";
    task.taskClock += 1;
    ASSERT_TRUE(task.Scheduling().AssignRange(*second));
    EXPECT_EQ(second->Range(), range);
    EXPECT_EQ(first->Range(), nullptr) << "the old owner let it go";
}

TEST_F(PieceSchedulingTest, FasterConnectionStealsTheTailInProportion)
{
    ASSERT_TRUE(task.MakeDataFile(20 * kPiece));
    TScriptedPeer *owner = task.AddPeer(PEER_KIND_HTTP, 1000);
    TScriptedPeer *fast = task.AddPeer(PEER_KIND_HTTP, 2000);
    fast->rangesHeld = 1;
    TPieceRange *range = task.Scheduling().AddRange(0, 19, owner, nullptr);
    ASSERT_TRUE(task.Scheduling().AssignRange(*fast));
    ASSERT_NE(fast->Range(), nullptr);
    EXPECT_EQ(fast->Range()->first, 7);
    EXPECT_EQ(fast->Range()->last, 19);
    EXPECT_EQ(range->last, 6);
    EXPECT_EQ(owner->Range(), range);
}

TEST_F(PieceSchedulingTest, FocusFarAwayStartsARangeAtTheFocus)
{
    ASSERT_TRUE(task.MakeDataFile(100 * kPiece));
    task.AddServer(9001);
    TScriptedPeer *peer = task.AddPeer(PEER_KIND_HTTP);
    ASSERT_TRUE(peer->PlanRequests());
    peer->requests.clear();
    peer->counters.currentPiece = 0;
    task.Scheduling().SetFocusPiece(7);
    ASSERT_TRUE(peer->PlanRequests());
    ASSERT_NE(peer->Range(), nullptr);
    EXPECT_EQ(peer->Range()->first, 7);
    EXPECT_EQ(peer->requests.front().block, 7 * 4);
    EXPECT_EQ(peer->focusSnapshot, 7);
}

TEST_F(PieceSchedulingTest, InProgressMarksLimitHoldersUntilEndGame)
{
    ASSERT_TRUE(task.MakeDataFile(10 * kPiece));
    for (int i = 0; i < 100; ++i)
        task.AddPeer(PEER_KIND_BT);
    EXPECT_TRUE(task.Scheduling().NeedsPiece(3));
    ASSERT_TRUE(task.Scheduling().MarkInProgress(3));
    EXPECT_FALSE(task.Scheduling().NeedsPiece(3)) << "one holder outside end game";
    for (int p = 0; p < 10; ++p) {
        if (p != 3)
            task.Scheduling().MarkInProgress(p);
    }
    EXPECT_TRUE(task.Scheduling().NeedsPiece(3)) << "every missing piece is held: end game";
    int marks = task.Scheduling().InProgressCount(3);
    while (task.Scheduling().MarkInProgress(3))
        ++marks;
    EXPECT_EQ(marks, 55);
    task.Scheduling().UnmarkInProgress(3, false);
    EXPECT_EQ(task.Scheduling().InProgressCount(3), 54);
    task.Scheduling().UnmarkInProgress(3, true);
    EXPECT_EQ(task.Scheduling().InProgressCount(3), 0);
}

TEST_F(PieceSchedulingTest, QueriesOfThePeerPickers)
{
    EXPECT_FALSE(task.NearlyComplete()) << "no pieces known yet";
    EXPECT_EQ(task.RandomStartPiece(), 0);
    ASSERT_TRUE(task.MakeDataFile(3 * kPiece));
    EXPECT_FALSE(task.NearlyComplete());
    for (int i = 0; i < 50; ++i) {
        int32_t start = task.RandomStartPiece();
        EXPECT_GE(start, 0);
        EXPECT_LT(start, 3);
    }
    task.settings.randomStart = 0;
    EXPECT_EQ(task.RandomStartPiece(), 0);

    EXPECT_FALSE(task.Scheduling().WaitsForServers()) << "no server connection";
    task.AddServer(9001);
    task.AddPeer(PEER_KIND_HTTP);
    EXPECT_TRUE(task.Scheduling().WaitsForServers());
    task.Scheduling().EngageRanges();
    EXPECT_FALSE(task.Scheduling().WaitsForServers()) << "the servers have their ranges";

    TScriptedPeer *peer = task.AddPeer(PEER_KIND_HTTP);
    std::vector<uint8_t> block(16384, 1);
    for (int round = 0; round < 4; ++round) {
        ASSERT_TRUE(peer->PlanRequests());
        while (!peer->requests.empty() && !task.NearlyComplete()) {
            TBlockRequest r = peer->requests.front();
            ASSERT_TRUE(peer->DeliverBlock(r.block, r.length, block.data()));
        }
        task.CloseDataFile(false);
    }
    EXPECT_TRUE(task.NearlyComplete());
}

TEST_F(PieceSchedulingTest, PendingBlocksGoToTheFrontAndAreDroppedWhenStopping)
{
    ASSERT_TRUE(task.MakeDataFile(10 * kPiece));
    task.Scheduling().ReturnBlocks({{5, 16384, 0, false}, {6, 16384, 0, false}});
    task.Scheduling().ReturnBlocks({{1, 16384, 0, true}});
    ASSERT_EQ(task.Scheduling().Pending().size(), 3u);
    EXPECT_EQ(task.Scheduling().Pending().front().block, 1);
    EXPECT_FALSE(task.Scheduling().Pending().front().sent);
    EXPECT_TRUE(task.Scheduling().TakePending(6, 16384));
    EXPECT_FALSE(task.Scheduling().TakePending(6, 16384));

    TScriptedPeer *peer = task.AddPeer(PEER_KIND_BT);
    std::vector<uint8_t> all(2, 0xFF);
    std::vector<uint8_t> none(2, 0x00);
    EXPECT_FALSE(task.Scheduling().PickPending(*peer, none, {}, 0)) << "the peer has none of the pieces";
    EXPECT_FALSE(task.Scheduling().PickPending(*peer, all, {0, 1}, 0));
    ASSERT_TRUE(task.Scheduling().PickPending(*peer, all, {}, 0));
    ASSERT_EQ(peer->requests.size(), 1u) << "only the blocks of the first piece move";
    EXPECT_EQ(peer->requests.front().block, 1);
    EXPECT_EQ(task.Scheduling().Pending().size(), 1u);

    task.windingDown = true;
    task.Scheduling().ReturnBlocks({{8, 16384, 0, false}});
    EXPECT_EQ(task.Scheduling().Pending().size(), 1u) << "a stopping task drops returned blocks";
}

TEST_F(PieceSchedulingTest, HttpTaskFinishesAndRenamesOnceEveryPieceArrived)
{
    ASSERT_TRUE(task.MakeDataFile(3 * kPiece + 100));
    task.AddServer(9001);
    TScriptedPeer *peer = task.AddPeer(PEER_KIND_HTTP);
    std::vector<uint8_t> block(16384, 0x11);
    for (int round = 0; round < 8 && !task.AllPiecesPresent(); ++round) {
        ASSERT_TRUE(peer->PlanRequests());
        while (!peer->requests.empty()) {
            TBlockRequest r = peer->requests.front();
            ASSERT_TRUE(peer->DeliverBlock(r.block, r.length, block.data()));
        }
    }
    EXPECT_FALSE(task.CheckComplete(0)) << "clock 0 never ends the run";
    EXPECT_TRUE(task.completed);
    EXPECT_TRUE(task.saveRequested) << "the final name must not wait for the 20-second save";
    EXPECT_TRUE(task.CheckComplete(task.taskClock));
    task.CloseDataFile(true);
    EXPECT_TRUE(fs::exists(task.targetFile));
    EXPECT_EQ(fs::file_size(task.targetFile), static_cast<uintmax_t>(3 * kPiece + 100));
}

// A single-file torrent of the bytes in 64 KiB pieces.
std::string TorrentOf(const std::string &bytes)
{
    std::string hashes;
    for (size_t at = 0; at < bytes.size(); at += kPiece) {
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        size_t n = std::min<size_t>(kPiece, bytes.size() - at);
        EVP_Digest(bytes.data() + at, n, digest, &length, EVP_sha1(), nullptr);
        hashes.append(reinterpret_cast<const char *>(digest), length);
    }
    const std::string announce = "http://127.0.0.1:9/announce";
    return "d8:announce" + std::to_string(announce.size()) + ":" + announce + "4:infod6:lengthi" +
           std::to_string(bytes.size()) +
           "e4:name4:data12:piece lengthi" + std::to_string(kPiece) + "e6:pieces" + std::to_string(hashes.size()) +
           ":" + hashes + "ee";
}

// Delivers every block the peer plans, taking the bytes from content.
void DeliverAll(TScriptedPeer &peer, const std::string &content, int rounds)
{
    for (int round = 0; round < rounds; ++round) {
        if (!peer.PlanRequests() || peer.requests.empty())
            return;
        while (!peer.requests.empty()) {
            TBlockRequest r = peer.requests.front();
            peer.DeliverBlock(r.block, r.length,
                              reinterpret_cast<const uint8_t *>(content.data()) + r.block * 16384);
        }
    }
}

TEST_F(PieceSchedulingTest, TorrentPiecesAreVerifiedAndABadPieceIsFetchedAgain)
{
    std::string content(3 * kPiece + 999, '\0');
    for (size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<char>(i * 7 + i / 251);
    task.isP2sp = true;
    ASSERT_TRUE(task.LoadTorrent(TorrentOf(content)));
    ASSERT_TRUE(task.HasMetadata());
    ASSERT_EQ(task.PieceCount(), 4);
    task.AddServer(9001);

    std::string corrupt = content;
    corrupt[kPiece + 5] ^= 1;
    TScriptedPeer *liar = task.AddPeer(PEER_KIND_HTTP);
    DeliverAll(*liar, corrupt, 2);
    EXPECT_EQ(liar->failures, 1) << "piece 1 failed its hash";
    EXPECT_TRUE(task.Scheduling().NeedsPiece(1));
    EXPECT_FALSE(task.Scheduling().NeedsPiece(0));

    TScriptedPeer *honest = task.AddPeer(PEER_KIND_HTTP);
    DeliverAll(*honest, content, 8);
    for (TScriptedPeer *peer : {liar, honest})
        DeliverAll(*peer, content, 8);
    ASSERT_TRUE(task.AllPiecesPresent());

    // A P2SP task serves on after completion until its seeding hours pass.
    int64_t now = task.taskClock;
    EXPECT_FALSE(task.CheckComplete(now));
    EXPECT_TRUE(task.completed);
    EXPECT_FALSE(task.CheckComplete(now + 12 * 3600 - 1));
    EXPECT_TRUE(task.CheckComplete(now + 12 * 3600));
    task.CloseDataFile(true);
    std::ifstream in(task.targetFile, std::ios::binary);
    std::string stored((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_TRUE(stored == content);
}

TEST_F(PieceSchedulingTest, APieceThatNeverVerifiesCondemnsItsServerWithoutBlockingTheOthers)
{
    std::string content(6 * kPiece, '\0');
    for (size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<char>(i * 13 + i / 509);
    task.isP2sp = true;
    ASSERT_TRUE(task.LoadTorrent(TorrentOf(content)));
    TPeerId *server = task.AddServer(9001);
    ASSERT_NE(server, nullptr);
    TScriptedPeer *liar = task.AddPeer(PEER_KIND_HTTP);
    liar->AttachAddress(server);
    std::string corrupt = content;
    corrupt[kPiece + 5] ^= 1;

    // The stream goes on past the corrupt piece; the piece comes back only
    // once the range has been read to its end.
    for (int round = 0; round < 40 && liar->failures < 3; ++round) {
        ASSERT_TRUE(liar->PlanRequests());
        ASSERT_FALSE(liar->requests.empty()) << "round " << round;
        while (!liar->requests.empty()) {
            TBlockRequest r = liar->requests.front();
            ASSERT_TRUE(liar->DeliverBlock(r.block, r.length,
                                           reinterpret_cast<const uint8_t *>(corrupt.data()) + r.block * 16384))
                << "block " << r.block;
        }
    }
    ASSERT_EQ(liar->failures, 3);
    EXPECT_TRUE(task.Scheduling().NeedsPiece(1));
    for (int32_t piece : {0, 2, 3, 4, 5})
        EXPECT_FALSE(task.Scheduling().NeedsPiece(piece)) << "piece " << piece;
    EXPECT_LT(server->failedOutcomes, 32) << "the good pieces in between hide it from the share of failures";
    EXPECT_TRUE(liar->PlanRequests());
    EXPECT_TRUE(liar->requests.empty()) << "a server is not asked again for a piece it cannot deliver";

    task.DropBadServers();
    EXPECT_TRUE(task.candidates.empty());
    EXPECT_TRUE(task.connections.empty());
    EXPECT_EQ(task.badData.host, "127.0.0.1:9001");
    EXPECT_EQ(task.badData.piece, 1);
    EXPECT_EQ(task.badData.failures, 3);
    EXPECT_TRUE(task.OnlyBadDataLeft());
    EXPECT_EQ(task.AddServer(9001), nullptr) << "a condemned server does not come back with the source list";
    TPeerId *other = task.AddServer(9002);
    ASSERT_NE(other, nullptr);
    EXPECT_FALSE(task.OnlyBadDataLeft()) << "another server may still deliver the piece";
}

} // namespace
