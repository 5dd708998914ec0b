#pragma once
#include <cstdint>
#include <vector>

#include "engine/core/work_with_peers.h"

// The piece layer of a task: the have-map (one bit per piece, most
// significant bit first) and, as it grows, the data file and the scheduler.
class TWorkWithPieces : public TWorkWithPeers {
public:
    // Written by the worker.
    std::vector<uint8_t> haveMap;
    // What GetTaskPieceMap reads; replaced by Flush under the task's lock.
    std::vector<uint8_t> publishedHaveMap;
    uint32_t publishedPieceCount = 0;
    bool haveMapToPublish = false;

    // Copy of the published map into buf; the caller holds the task's lock.
    int32_t CopyPublishedHaveMap(void *buf, int32_t len) const;
    int32_t PublishedHaveMapSize() const { return static_cast<int32_t>(publishedHaveMap.size()); }

    void Reset(bool release, bool full) override;
};
