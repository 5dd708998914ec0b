// The scheduler on its own: a store of whole pieces, a pool of scripted
// connections, and a run time the test sets.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "engine/core/piece_scheduler.h"
#include "engine/net/peer_id.h"
#include "tests/engine/core/scripted_peer.h"

namespace {

constexpr int32_t kPiece = 64 * 1024;
constexpr int32_t kBlocksPerPiece = kPiece / kBlockBytes;

// Pieces are needed until the test marks them present, a whole piece at once.
class TPieceFlags : public ISchedulerPieces {
public:
    explicit TPieceFlags(int32_t count) : needed(static_cast<size_t>(count), true) {}
    bool PieceLayerReady() override { return true; }
    int32_t PieceLength() override { return kPiece; }
    int32_t PieceCount() override { return static_cast<int32_t>(needed.size()); }
    bool IsPieceNeeded(int32_t piece) override
    {
        return piece >= 0 && piece < PieceCount() && needed[static_cast<size_t>(piece)];
    }
    bool HasBlock(int64_t block) override { return !IsPieceNeeded(static_cast<int32_t>(block / kBlocksPerPiece)); }
    int32_t MissingPieceCount() override
    {
        return static_cast<int32_t>(std::count(needed.begin(), needed.end(), true));
    }

    std::vector<bool> needed;
};

class TConnectionList : public ISchedulerPool {
public:
    const std::vector<TRef<TPeerObject>> &Connections() override { return connections; }
    const std::vector<TRef<TPeerId>> &Candidates() override { return candidates; }
    int64_t TaskClock() override { return clock; }
    bool IsStopping() override { return false; }
    uint32_t SecondsRunning() override { return running; }

    std::vector<TRef<TPeerObject>> connections;
    std::vector<TRef<TPeerId>> candidates;
    int64_t clock = 1000000;
    uint32_t running = 0;
};

class PieceSchedulerTest : public ::testing::Test {
protected:
    ~PieceSchedulerTest() override
    {
        scheduler.Clear();
    }

    // A connection of the pool, downloading at rate bytes per second.
    TScriptedPeer *Connect(int32_t rate, int32_t kind = PEER_KIND_HTTP)
    {
        auto *peer = new TScriptedPeer(nullptr, kind);
        peer->period.downRate = rate;
        pool.connections.push_back(TRef<TPeerObject>::Adopt(peer));
        return peer;
    }

    void PendAllBlocks()
    {
        for (int64_t block = 0; block < int64_t{kBlocksPerPiece} * store.PieceCount(); ++block)
            scheduler.AddPending(block, kBlockBytes);
    }

    std::vector<int32_t> PendingPieces() const
    {
        std::vector<int32_t> found;
        for (const TBlockRequest &r : scheduler.Pending()) {
            auto piece = static_cast<int32_t>(r.block / kBlocksPerPiece);
            if (std::find(found.begin(), found.end(), piece) == found.end())
                found.push_back(piece);
        }
        std::sort(found.begin(), found.end());
        return found;
    }

    TPieceFlags store{100};
    TConnectionList pool;
    TPieceScheduler scheduler{store, pool};
};

TEST_F(PieceSchedulerTest, StealSkipsPresentTailPiecesAndKeepsTheSourceReferenced)
{
    auto source = TRef<TPeerId>::Adopt(new TPeerId);
    TScriptedPeer *owner = Connect(1000);
    TScriptedPeer *asker = Connect(3000);
    asker->rangesHeld = 1;
    TPieceRange *victim = scheduler.AddRange(0, 19, owner, source);
    for (int32_t p = 15; p <= 19; ++p)
        store.needed[static_cast<size_t>(p)] = false;

    ASSERT_TRUE(scheduler.AssignRange(*asker));
    ASSERT_NE(asker->Range(), nullptr);
    // 15 open pieces: a three times faster asker takes three quarters of them, and one more.
    EXPECT_EQ(asker->Range()->first, 3);
    EXPECT_EQ(asker->Range()->last, 14);
    EXPECT_EQ(asker->Range()->source, source.Get());
    EXPECT_EQ(victim->last, 2);
    EXPECT_EQ(owner->Range(), victim);
    EXPECT_EQ(source->RefCount(), 3) << "each range holds the source";

    scheduler.Clear();
    EXPECT_EQ(source->RefCount(), 1) << "freed ranges let the source go";
    EXPECT_EQ(asker->Range(), nullptr);
}

TEST_F(PieceSchedulerTest, AnOwnerAboutToFinishIsLeftAloneUnlessTheAskerHasNothing)
{
    TScriptedPeer *owner = Connect(2 * kPiece);
    TPieceRange *range = scheduler.AddRange(0, 9, owner, nullptr);
    TScriptedPeer *busy = Connect(2 * kPiece);
    busy->rangesHeld = 1;
    EXPECT_FALSE(scheduler.AssignRange(*busy)) << "five seconds left: not worth a cut, however fast the asker";
    EXPECT_EQ(range->last, 9);

    TScriptedPeer *fresh = Connect(1000);
    ASSERT_TRUE(scheduler.AssignRange(*fresh)) << "a connection without work still gets half";
    EXPECT_EQ(fresh->Range()->first, 5);
    EXPECT_EQ(range->last, 4);
}

TEST_F(PieceSchedulerTest, AMuchFasterAskerTakesTheSlowOwnersLastPieceWhole)
{
    TScriptedPeer *owner = Connect(1000);
    TPieceRange *range = scheduler.AddRange(0, 1, owner, nullptr);
    range->cursor = 1;
    TScriptedPeer *asker = Connect(3000);
    asker->rangesHeld = 1;
    ASSERT_TRUE(scheduler.AssignRange(*asker));
    EXPECT_EQ(asker->Range()->first, 1);
    EXPECT_EQ(asker->Range()->last, 1);
    EXPECT_TRUE(range->scanned);
    EXPECT_EQ(owner->Range(), nullptr) << "the owner let its range go";
}

TEST_F(PieceSchedulerTest, PendingListIsBoundedByGivingIdlePiecesBackWithTheirMarks)
{
    PendAllBlocks();
    TScriptedPeer *working = Connect(1000);
    working->requests.push_back({5 * kBlocksPerPiece + 2, kBlockBytes, 0, true});
    TScriptedPeer *gone = Connect(1000);
    gone->connected = false;
    gone->requests.push_back({7 * kBlocksPerPiece, kBlockBytes, 0, true});
    ASSERT_TRUE(scheduler.MarkInProgress(5));
    ASSERT_TRUE(scheduler.MarkInProgress(6));

    scheduler.PendingUpkeep(false);
    EXPECT_EQ(PendingPieces(), std::vector<int32_t>{5}) << "only a piece a live connection works on stays";
    EXPECT_EQ(scheduler.Pending().size(), static_cast<size_t>(kBlocksPerPiece));
    EXPECT_EQ(scheduler.InProgressCount(5), 1);
    EXPECT_EQ(scheduler.InProgressCount(6), 0) << "an idle piece is picked afresh";
}

TEST_F(PieceSchedulerTest, EndGameLiftsTheBoundAndCompletionEmptiesTheList)
{
    PendAllBlocks();
    for (int32_t p = 0; p < store.PieceCount(); ++p)
        ASSERT_TRUE(scheduler.MarkInProgress(p));
    ASSERT_TRUE(scheduler.NeedsPiece(0)) << "every missing piece is held: end game";
    ASSERT_TRUE(scheduler.EndGame());
    scheduler.PendingUpkeep(false);
    EXPECT_EQ(scheduler.Pending().size(), static_cast<size_t>(kBlocksPerPiece) * 100);

    scheduler.Clear();
    scheduler.AddPending(0, kBlockBytes);
    scheduler.PendingUpkeep(false);
    EXPECT_EQ(scheduler.Pending().size(), 1u);
    scheduler.PendingUpkeep(true);
    EXPECT_TRUE(scheduler.Pending().empty());
}

TEST_F(PieceSchedulerTest, ServersAreWaitedForAMinuteOfTheRun)
{
    Connect(0, PEER_KIND_BT);
    EXPECT_FALSE(scheduler.WaitsForServers()) << "no server connection";
    Connect(0, PEER_KIND_HTTP);
    pool.running = 60;
    EXPECT_TRUE(scheduler.WaitsForServers());
    pool.running = 61;
    EXPECT_FALSE(scheduler.WaitsForServers());
}

} // namespace
