// ctest-labels: threading
#include <gtest/gtest.h>

#include <vector>

#include "engine/base/buffer_pool.h"
#include "engine/base/engine_buffer_pools.h"
#include "platform/os_thread.h"

namespace {
struct PoolUse {
    int64_t inUse = 0;
    int64_t free = 0;
};

PoolUse UseOf(QBufferPool &pool)
{
    PoolUse use;
    pool.Statistics(use.inUse, use.free);
    return use;
}

// Puts buffers of the given sizes on the pool's free list, in that order.
std::vector<uint8_t *> FreeBuffers(QBufferPool &pool, const std::vector<int32_t> &sizes)
{
    std::vector<uint8_t *> buffers;
    for (int32_t size : sizes)
        buffers.push_back(pool.Get(size));
    for (uint8_t *buffer : buffers)
        pool.Release(buffer);
    return buffers;
}
} // namespace

TEST(BufferPool, NewBuffersEndInAZeroByteAndCountAsInUse)
{
    QBufferPool pool;
    uint8_t *buffer = pool.Get(100);
    EXPECT_EQ(buffer[100], 0);
    uint8_t *tiny = pool.Get(0);
    EXPECT_EQ(tiny[1], 0);
    PoolUse use = UseOf(pool);
    EXPECT_EQ(use.inUse, 101);
    EXPECT_EQ(use.free, 0);
    pool.Release(buffer);
    use = UseOf(pool);
    EXPECT_EQ(use.inUse, 1);
    EXPECT_EQ(use.free, 100);
}

TEST(BufferPool, ReusesExactSizesFirstThenCloseOnesWithinTolerance)
{
    QBufferPool pool;
    std::vector<uint8_t *> freed = FreeBuffers(pool, {150, 120});
    // 120 is exact, although 150 is earlier and within tolerance.
    EXPECT_EQ(pool.Get(120), freed[1]);
    // 150 - 100 = 50 < min(100, 1024): close enough.
    EXPECT_EQ(pool.Get(100), freed[0]);

    QBufferPool other;
    std::vector<uint8_t *> large = FreeBuffers(other, {300, 2100});
    // 300 - 100 = 200 is not below min(100, 1024); a new buffer comes.
    uint8_t *fresh = other.Get(100);
    EXPECT_NE(fresh, large[0]);
    EXPECT_NE(fresh, large[1]);
    // The tolerance is capped at 1024: 2100 - 1070 = 1030 is too much.
    uint8_t *big = other.Get(1070);
    EXPECT_NE(big, large[1]);
    EXPECT_EQ(other.Get(1100), large[1]);
}

TEST(BufferPool, IgnoresUnknownPointers)
{
    QBufferPool pool;
    pool.Get(64);
    uint8_t foreign[8] = {};
    pool.Release(foreign);
    pool.Release(nullptr);
    PoolUse use = UseOf(pool);
    EXPECT_EQ(use.inUse, 64);
    EXPECT_EQ(use.free, 0);
}

TEST(BufferPool, TrimKeepsTheLeadingFreeBuffersWithinTheLimit)
{
    QBufferPool pool;
    std::vector<uint8_t *> freed = FreeBuffers(pool, {100, 200, 300, 50});
    pool.Trim(350);
    // 100 + 200 fit; 300 would not, and nothing after it is kept either.
    EXPECT_EQ(UseOf(pool).free, 300);
    EXPECT_EQ(pool.Get(100), freed[0]);
    EXPECT_EQ(pool.Get(200), freed[1]);
    pool.Trim(0);
    EXPECT_EQ(UseOf(pool).free, 0);
}

TEST(BufferPool, SparsePoolsShrinkToAFifthOfTheBytesInUse)
{
    QBufferPool pool;
    std::vector<uint8_t *> held;
    for (int i = 0; i < 10; ++i)
        held.push_back(pool.Get(10000)); // 100 000 bytes in use
    FreeBuffers(pool, std::vector<int32_t>(40, 50000)); // 2 000 000 free
    EXPECT_TRUE(TrimSparsePool(pool, 35));
    EXPECT_LE(UseOf(pool).free, 100000 / 5);
    EXPECT_EQ(UseOf(pool).inUse, 100000);

    QBufferPool small;
    FreeBuffers(small, std::vector<int32_t>(10, 100000)); // 1 000 000: not above 1 MiB
    EXPECT_FALSE(TrimSparsePool(small, 35));
    EXPECT_EQ(UseOf(small).free, 1000000);

    QBufferPool busy;
    std::vector<uint8_t *> busyHeld;
    for (int i = 0; i < 8; ++i)
        busyHeld.push_back(busy.Get(100000)); // 800 000 in use
    FreeBuffers(busy, std::vector<int32_t>(12, 100000)); // 40 % in use
    EXPECT_FALSE(TrimSparsePool(busy, 35));
    EXPECT_TRUE(TrimSparsePool(busy, 45));
}

TEST(BufferPool, ConcurrentUsersKeepTheBookkeepingExact)
{
    QBufferPool pool;
    constexpr int kThreads = 4;
    constexpr int kRounds = 2000;
    std::vector<platform::OsThread> threads(kThreads);
    for (int t = 0; t < kThreads; ++t) {
        threads[t].Start([&pool, t] {
            for (int i = 0; i < kRounds; ++i) {
                int32_t size = 64 + (i + t) % 7 * 100;
                uint8_t *buffer = pool.Get(size);
                buffer[0] = static_cast<uint8_t>(t);
                buffer[size - 1] = static_cast<uint8_t>(i);
                pool.Release(buffer);
                if (i % 500 == 0)
                    pool.Trim(4096);
            }
        });
    }
    for (auto &thread : threads)
        thread.Join();
    EXPECT_EQ(UseOf(pool).inUse, 0);
}
