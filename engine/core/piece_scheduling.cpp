// What the piece layer decides between connections: which pieces are still
// needed, the in-progress marks and end game, and the pending list of blocks
// any connection may take.
#include <algorithm>

#include "engine/base/engine_clock.h"
#include "engine/core/work_with_pieces.h"
#include "engine/storage/pieces.h"
#include "platform/tick.h"

namespace {
constexpr int32_t kMinMarkSpread = 64;
constexpr int32_t kDefaultPick = 16;
constexpr uint32_t kServerWaitSeconds = 60;
} // namespace

bool TWorkWithPieces::RecomputeEndGame()
{
    endGame = inProgressEntries >= MissingPieceCount();
    endGameReached = endGameReached || endGame;
    return endGame;
}

int32_t TWorkWithPieces::InProgressCount(int32_t piece) const
{
    auto it = inProgress.find(piece);
    return it == inProgress.end() ? 0 : it->second;
}

bool TWorkWithPieces::NeedsPiece(int32_t piece)
{
    if (!HasPieces() || !pieces->IsNeeded(piece))
        return false;
    return RecomputeEndGame() || InProgressCount(piece) == 0;
}

bool TWorkWithPieces::MarkInProgress(int32_t piece)
{
    int32_t spread = std::max(static_cast<int32_t>(connections.size()) / 3, kMinMarkSpread);
    int32_t most = std::max(spread - MissingPieceCount(), 1);
    if (InProgressCount(piece) > most)
        return false;
    ++inProgress[piece];
    ++inProgressEntries;
    return true;
}

// The store marks a piece complete itself when it writes the piece out; it is
// never told earlier, so no reader sees bytes that are not on disk yet.
void TWorkWithPieces::UnmarkInProgress(int32_t piece, bool finished)
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

void TWorkWithPieces::RemoveFromInProgress(uint32_t piece)
{
    UnmarkInProgress(static_cast<int32_t>(piece), true);
}

bool TWorkWithPieces::PickPending(TPeerObject &peer, const std::vector<uint8_t> &peerHave,
                                  const std::vector<int32_t> &exclude, int32_t most)
{
    if (!HasPieces() || pending.empty())
        return false;
    if (most <= 0)
        most = kDefaultPick;
    int64_t pieceLength = pieces->PieceLength();
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
        if (peerHas(p) && std::find(exclude.begin(), exclude.end(), p) == exclude.end() && pieces->IsNeeded(p)) {
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

void TWorkWithPieces::ReturnBlocks(std::vector<TBlockRequest> &&requests)
{
    if (IsStopping() || requests.empty())
        return;
    for (TBlockRequest &r : requests)
        r.sent = false;
    pending.insert(pending.begin(), requests.begin(), requests.end());
}

bool TWorkWithPieces::TakePending(int64_t block, int32_t length)
{
    auto it = std::find_if(pending.begin(), pending.end(),
                           [&](const TBlockRequest &r) { return r.block == block && r.length == length; });
    if (it == pending.end())
        return false;
    pending.erase(it);
    return true;
}

bool TWorkWithPieces::PendingHolds(int64_t block)
{
    return std::any_of(pending.begin(), pending.end(), [block](const TBlockRequest &r) { return r.block == block; });
}

void TWorkWithPieces::AddPending(int64_t block, int32_t length)
{
    pending.push_front({block, length, EngineTime(), false});
}

void TWorkWithPieces::DropObtainedPending()
{
    if (!HasPieces())
        return;
    std::erase_if(pending, [this](const TBlockRequest &r) { return pieces->HasBlock(r.block); });
}

// Outside end game the list is bounded: a piece whose blocks wait there while
// no connection has a request in it is given back whole, marks and all, so
// the pickers choose it afresh.
void TWorkWithPieces::PendingUpkeep()
{
    if (!HasPieces())
        return;
    int64_t pieceLength = pieces->PieceLength();
    auto bound = static_cast<size_t>(pieceLength / kBlockBytes * 64 + 64);
    if (!endGame && pending.size() > bound) {
        std::sort(pending.begin(), pending.end(),
                  [](const TBlockRequest &a, const TBlockRequest &b) { return a.block < b.block; });
        auto pieceOf = [pieceLength](int64_t block) { return static_cast<int32_t>(block * kBlockBytes / pieceLength); };
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
    if (completed)
        pending.clear();
}

bool TWorkWithPieces::WaitsForServers()
{
    bool servers = std::any_of(connections.begin(), connections.end(), [](TPeerObject *p) { return IsServerKind(p->Kind()); });
    return servers && ranges.empty() && EngineSeconds() - StartSeconds() <= kServerWaitSeconds;
}

bool TWorkWithPieces::NearlyComplete()
{
    return HasPieces() && MissingPieceCount() <= 2;
}

int32_t TWorkWithPieces::RandomStartPiece()
{
    int32_t count = PieceCount();
    if (settings.randomStart == 0 || count <= 0)
        return 0;
    int64_t done = pieces->DoneOrUnwantedPieces();
    int64_t b = platform::TickCount() % (20 * done + 6);
    while (b >= count)
        b -= count;
    return static_cast<int32_t>(done > 1 ? b + done : b);
}
