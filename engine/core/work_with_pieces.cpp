#include "engine/core/work_with_pieces.h"

#include <algorithm>
#include <cstring>

int32_t TWorkWithPieces::CopyPublishedHaveMap(void *buf, int32_t len) const
{
    if (buf == nullptr || len <= 0)
        return 0;
    size_t copied = std::min(static_cast<size_t>(len), publishedHaveMap.size());
    if (copied > 0)
        std::memcpy(buf, publishedHaveMap.data(), copied);
    uint64_t bits = static_cast<uint64_t>(publishedHaveMap.size()) * 8;
    return static_cast<int32_t>(std::min<uint64_t>(bits, publishedPieceCount));
}

bool TWorkWithPieces::SetHaveBit(int64_t piece, bool on)
{
    if (piece < 0 || static_cast<uint64_t>(piece) / 8 >= haveMap.size())
        return false;
    uint8_t bit = static_cast<uint8_t>(0x80u >> (piece % 8));
    if (on)
        haveMap[piece / 8] |= bit;
    else
        haveMap[piece / 8] &= static_cast<uint8_t>(~bit);
    return true;
}

void TWorkWithPieces::Reset(bool release, bool full)
{
    TWorkWithPeers::Reset(release, full);
}
