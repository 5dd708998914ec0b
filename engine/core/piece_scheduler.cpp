// What the connections share apart from the ranges: which pieces are still
// needed, the in-progress marks and end game, and the pending list of blocks
// any connection may take.
#include "engine/core/piece_scheduler.h"

#include <algorithm>

#include "engine/base/engine_clock.h"
#include "engine/net/peer_object.h"

namespace {
constexpr int32_t kMinMarkSpread = 64;
constexpr int32_t kDefaultPick = 16;
constexpr uint32_t kServerWaitSeconds = 60;
} // namespace

TPieceScheduler::TPieceScheduler(ISchedulerPieces &pieces, ISchedulerPool &pool) : pieces(pieces), pool(pool) {}

TPieceScheduler::~TPieceScheduler()
{
    Clear();
}

void TPieceScheduler::Clear()
{
    for (auto &range : ranges) {
        if (range->owner != nullptr)
            range->owner->ForgetRange();
    }
    ranges.clear();
    pending.clear();
    inProgress.clear();
    inProgressEntries = 0;
    endGame = false;
    focusPiece = -1;
}

bool TPieceScheduler::RecomputeEndGame()
{
    endGame = inProgressEntries >= pieces.MissingPieceCount();
    return endGame;
}

int32_t TPieceScheduler::InProgressCount(int32_t piece) const
{
    auto it = inProgress.find(piece);
    return it == inProgress.end() ? 0 : it->second;
}

bool TPieceScheduler::NeedsPiece(int32_t piece)
{
    if (!pieces.IsPieceNeeded(piece))
        return false;
    return RecomputeEndGame() || InProgressCount(piece) == 0;
}

bool TPieceScheduler::BlockRequestedOrPresent(int64_t block)
{
    return pieces.HasBlock(block);
}

bool TPieceScheduler::MarkInProgress(int32_t piece)
{
    int32_t spread = std::max(static_cast<int32_t>(pool.Connections().size()) / 3, kMinMarkSpread);
    int32_t most = std::max(spread - pieces.MissingPieceCount(), 1);
    if (InProgressCount(piece) > most)
        return false;
    ++inProgress[piece];
    ++inProgressEntries;
    return true;
}

// The store marks a piece complete itself when it writes the piece out; it is
// never told earlier, so no reader sees bytes that are not on disk yet.
void TPieceScheduler::UnmarkInProgress(int32_t piece, bool finished)
{
    auto it = inProgress.find(piece);
    if (it == inProgress.end())
        return;
    if (finished || it->second <= 1) {
        inProgressEntries -= it->second;
        inProgress.erase(it);
    } else {
        --it->second;
        --inProgressEntries;
    }
}

bool TPieceScheduler::PickPending(TPeerObject &peer, const std::vector<uint8_t> &peerHave,
                                  const std::vector<int32_t> &exclude, int32_t most)
{
    if (!pieces.PieceLayerReady() || pending.empty())
        return false;
    if (most <= 0)
        most = kDefaultPick;
    int64_t pieceLength = pieces.PieceLength();
    auto pieceOf = [pieceLength](const TBlockRequest &r) { return static_cast<int32_t>(r.block * kBlockBytes / pieceLength); };
    auto peerHas = [&peerHave](int32_t p) {
        size_t byte = static_cast<size_t>(p) / 8;
        return byte < peerHave.size() && (peerHave[byte] & (0x80 >> (p % 8))) != 0;
    };
    int32_t chosen = -1;
    int32_t previous = -1;
    for (const TBlockRequest &entry : pending) {
        int32_t p = pieceOf(entry);
        if (p == previous)
            continue;
        previous = p;
        if (peerHas(p) && std::find(exclude.begin(), exclude.end(), p) == exclude.end() && pieces.IsPieceNeeded(p)) {
            chosen = p;
            break;
        }
    }
    if (chosen < 0)
        return false;
    int32_t moved = 0;
    for (auto it = pending.begin(); it != pending.end() && moved < most;) {
        bool queued = std::any_of(peer.requests.begin(), peer.requests.end(),
                                  [&](const TBlockRequest &r) { return r.block == it->block; });
        if (pieceOf(*it) != chosen || queued) {
            ++it;
            continue;
        }
        peer.requests.push_back(*it);
        it = pending.erase(it);
        ++moved;
    }
    return moved > 0;
}

void TPieceScheduler::ReturnBlocks(std::vector<TBlockRequest> &&requests)
{
    if (pool.IsStopping() || requests.empty())
        return;
    for (TBlockRequest &r : requests)
        r.sent = false;
    pending.insert(pending.begin(), requests.begin(), requests.end());
}

bool TPieceScheduler::TakePending(int64_t block, int32_t length)
{
    auto it = std::find_if(pending.begin(), pending.end(),
                           [&](const TBlockRequest &r) { return r.block == block && r.length == length; });
    if (it == pending.end())
        return false;
    pending.erase(it);
    return true;
}

bool TPieceScheduler::PendingHolds(int64_t block)
{
    return std::any_of(pending.begin(), pending.end(), [block](const TBlockRequest &r) { return r.block == block; });
}

void TPieceScheduler::AddPending(int64_t block, int32_t length)
{
    pending.push_front({block, length, EngineTime(), false});
}

void TPieceScheduler::DropObtainedPending()
{
    if (!pieces.PieceLayerReady())
        return;
    std::erase_if(pending, [this](const TBlockRequest &r) { return pieces.HasBlock(r.block); });
}

// Outside end game the list is bounded: a piece whose blocks wait there while
// no connection has a request in it is given back whole, marks and all, so
// the pickers choose it afresh.
void TPieceScheduler::PendingUpkeep(bool complete)
{
    if (!pieces.PieceLayerReady())
        return;
    int64_t pieceLength = pieces.PieceLength();
    auto bound = static_cast<size_t>(pieceLength / kBlockBytes * 64 + 64);
    if (!endGame && pending.size() > bound) {
        std::sort(pending.begin(), pending.end(),
                  [](const TBlockRequest &a, const TBlockRequest &b) { return a.block < b.block; });
        auto pieceOf = [pieceLength](int64_t block) { return static_cast<int32_t>(block * kBlockBytes / pieceLength); };
        const std::vector<TRef<TPeerObject>> &connections = pool.Connections();
        std::vector<int32_t> idle;
        for (size_t i = 0; i < pending.size();) {
            int32_t p = pieceOf(pending[i].block);
            bool worked = std::any_of(connections.begin(), connections.end(), [&](TPeerObject *peer) {
                return peer->IsConnected() && std::any_of(peer->requests.begin(), peer->requests.end(),
                                                          [&](const TBlockRequest &r) { return pieceOf(r.block) == p; });
            });
            if (!worked)
                idle.push_back(p);
            while (i < pending.size() && pieceOf(pending[i].block) == p)
                ++i;
        }
        std::erase_if(pending, [&](const TBlockRequest &r) {
            return std::binary_search(idle.begin(), idle.end(), pieceOf(r.block));
        });
        for (int32_t p : idle)
            UnmarkInProgress(p, true);
        return;
    }
    if (complete)
        pending.clear();
}

bool TPieceScheduler::WaitsForServers()
{
    const std::vector<TRef<TPeerObject>> &connections = pool.Connections();
    bool servers =
        std::any_of(connections.begin(), connections.end(), [](TPeerObject *p) { return IsServerKind(p->Kind()); });
    return servers && ranges.empty() && pool.SecondsRunning() <= kServerWaitSeconds;
}
