// The piece store's memory: stalled pieces to disk, verified pieces out when
// they fill the cache, and eviction of the read cache.
#include <algorithm>
#include <utility>

#include "engine/base/engine_clock.h"
#include "engine/storage/pieces.h"

namespace {
constexpr int64_t kStallSeconds = 600;
constexpr int32_t kStallFlushMinimum = 131072;
constexpr int64_t kEvictionPeriod = 21600;
constexpr int64_t kReadCacheAge = 3600;
constexpr int64_t kEvictionFloor = 262144;
} // namespace

// Verified pieces may stay in memory to serve uploads while they take less
// than half the budget, or a fifth once the cache as a whole is half full.
bool TPieces::VerifiedCacheFull() const
{
    const int64_t budget = CacheBudgetBytes();
    const int64_t limit = cacheBytes >= budget / 2 ? budget / 5 : budget / 2;
    return verifiedInMemory >= limit;
}

void TPieces::Housekeeping()
{
    if (!piecesSetUp)
        return;
    const int64_t now = EngineSeconds();
    FlushStalledPieces(now);
    if (VerifiedCacheFull())
        FlushVerified();
    CountDownloaded();
    Evict(now);
}

void TPieces::FlushStalledPieces(int64_t now)
{
    const std::vector<int32_t> held(resident.begin(), resident.end());
    for (int32_t index : held) {
        TPiece &piece = pieces[static_cast<size_t>(index)];
        if (piece.verified || IsPieceComplete(index))
            continue;
        if (piece.unwanted)
            ForgetBlocks(piece); // its files were deselected
        else if (piece.store.PresentBytes() >= kStallFlushMinimum && now - piece.lastAccess > kStallSeconds)
            FlushPrefix(index, kStallFlushMinimum);
    }
}

void TPieces::CountDownloaded()
{
    int64_t onDisk = 0;
    int64_t inMemory = 0;
    for (int32_t i = 0; i < pieceCount; ++i) {
        const TPiece &piece = pieces[static_cast<size_t>(i)];
        if (piece.verified || IsPieceComplete(i))
            continue;
        onDisk += piece.flushedPrefix;
        inMemory += piece.store.PresentBytes();
    }
    downloadedBytes = onDisk;
    downloadedWithMemory = onDisk + inMemory;
}

void TPieces::Evict(int64_t now)
{
    const int64_t budget = CacheBudgetBytes();
    if ((cacheBytes < budget && now - lastEviction <= kEvictionPeriod) || cacheBytes <= kEvictionFloor)
        return;
    // Candidates: read-cache copies of pieces that are on disk.
    std::vector<std::pair<int64_t, int32_t>> candidates;
    int64_t candidateBytes = 0;
    const std::vector<int32_t> held(resident.begin(), resident.end());
    for (int32_t index : held) {
        TPiece &piece = pieces[static_cast<size_t>(index)];
        if (piece.verified)
            continue;
        if (IsPieceComplete(index)) {
            if (now - piece.lastAccess > kReadCacheAge) {
                ForgetBlocks(piece);
            } else {
                candidates.emplace_back(piece.lastAccess, index);
                candidateBytes += piece.store.PresentBytes();
            }
        } else if (piece.unwanted) {
            ForgetBlocks(piece);
        }
    }
    if (candidateBytes + verifiedInMemory >= budget) {
        // Oldest first; equal ages in piece order.
        std::sort(candidates.begin(), candidates.end());
        const int64_t margin = std::max(budget / 10, kEvictionFloor);
        for (const auto &[age, index] : candidates) {
            if (budget - cacheBytes >= margin)
                break;
            ForgetBlocks(pieces[static_cast<size_t>(index)]);
        }
    }
    lastEviction = now;
}
