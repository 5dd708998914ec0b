#include "engine/base/engine_buffer_pools.h"

namespace {
constexpr int64_t kSparseFloor = 1024 * 1024;
constexpr int kBlockPoolPercent = 15;
constexpr int kSocketPoolPercent = 35;
constexpr int64_t kRecordPoolPeriodicLimit = 256 * 1024;
constexpr int64_t kRecordPoolRunEndLimit = 10240;
constexpr int64_t kLargeBlockPoolRunEndLimit = 2 * 1024 * 1024;

QBufferPool &MakePool()
{
    return *new QBufferPool;
}
} // namespace

QBufferPool &SocketBufferPool()
{
    static QBufferPool &pool = MakePool();
    return pool;
}

QBufferPool &BlockBufferPool()
{
    static QBufferPool &pool = MakePool();
    return pool;
}

QBufferPool &LargeBlockBufferPool()
{
    static QBufferPool &pool = MakePool();
    return pool;
}

QBufferPool &RecordBufferPool()
{
    static QBufferPool &pool = MakePool();
    return pool;
}

bool TrimSparsePool(QBufferPool &pool, int percentInUse)
{
    int64_t inUse = 0;
    int64_t free = 0;
    pool.Statistics(inUse, free);
    const int64_t total = inUse + free;
    if (total <= kSparseFloor || inUse * 100 >= total * percentInUse)
        return false;
    pool.Trim(inUse / 5);
    return true;
}

void TrimEngineBufferPools(bool withRecordPool)
{
    TrimSparsePool(BlockBufferPool(), kBlockPoolPercent);
    TrimSparsePool(SocketBufferPool(), kSocketPoolPercent);
    if (withRecordPool)
        RecordBufferPool().Trim(kRecordPoolPeriodicLimit);
}

void TrimBufferPoolsAtRunEnd()
{
    TrimEngineBufferPools(false);
    RecordBufferPool().Trim(kRecordPoolRunEndLimit);
    LargeBlockBufferPool().Trim(kLargeBlockPoolRunEndLimit);
}
