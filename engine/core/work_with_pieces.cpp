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

void TWorkWithPieces::Reset(bool release, bool full)
{
    TWorkWithPeers::Reset(release, full);
}
