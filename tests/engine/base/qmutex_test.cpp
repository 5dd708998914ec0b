// ctest-labels: threading
#include "engine/base/qmutex.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>

namespace {

TEST(QTMutexTest, RecursionNeedsOneUnlockPerLock)
{
    QTMutex lock;
    ASSERT_TRUE(lock.Lock());
    ASSERT_TRUE(lock.Lock());
    ASSERT_TRUE(lock.TryLock());
    EXPECT_TRUE(lock.Unlock());
    EXPECT_TRUE(lock.Unlock());
    std::thread([&] { EXPECT_FALSE(lock.TryLock()); }).join();
    EXPECT_TRUE(lock.Unlock());
    EXPECT_FALSE(lock.Unlock()) << "a fourth unlock must fail: nothing is held";
    std::thread([&] {
        EXPECT_TRUE(lock.TryLock());
        EXPECT_TRUE(lock.Unlock());
    }).join();
}

TEST(QTMutexTest, UnlockByNonOwnerFailsAndChangesNothing)
{
    QTMutex lock;
    ASSERT_TRUE(lock.Lock());
    std::thread([&] { EXPECT_FALSE(lock.Unlock()); }).join();
    EXPECT_TRUE(lock.IsOwnedByCaller());
    std::thread([&] { EXPECT_FALSE(lock.TryLock()); }).join();
    EXPECT_TRUE(lock.Unlock());
}

TEST(QTMutexTest, UnlockUntilFailureReleasesEveryLevel)
{
    QTMutex lock;
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(lock.Lock());
    int released = 0;
    while (lock.Unlock())
        ++released;
    EXPECT_EQ(released, 5);
    EXPECT_FALSE(lock.IsOwnedByCaller());
}

TEST(QTMutexTest, LockOfDeadOwnerIsTakenOver)
{
    QTMutex lock;
    // The thread ends while holding the lock: the next locker takes it over.
    std::thread([&] { ASSERT_TRUE(lock.Lock()); }).join();
    std::atomic<bool> got{false};
    std::thread waiter([&] { got = lock.Lock(); });
    waiter.join();
    EXPECT_TRUE(got.load());
}

TEST(QTMutexTest, ContendedCounterStaysExact)
{
    QTMutex lock;
    long counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 2000; ++i) {
                QAutoLock hold(lock);
                QAutoLock again(lock); // recursion inside a contended lock
                ++counter;
            }
        });
    }
    for (auto &thread : threads)
        thread.join();
    EXPECT_EQ(counter, 8000);
}

TEST(QSMutexTest, TryLockFailsWhileHeldElsewhere)
{
    QSMutex lock;
    ASSERT_TRUE(lock.Lock());
    std::thread([&] { EXPECT_FALSE(lock.TryLock()); }).join();
    EXPECT_TRUE(lock.Unlock());
    std::thread([&] {
        EXPECT_TRUE(lock.TryLock());
        EXPECT_TRUE(lock.Unlock());
    }).join();
}

TEST(QAutoLockTest, ReleasesOnlyWhatItLocked)
{
    QTMutex lock;
    {
        QAutoLock deferred(lock, false);
        EXPECT_FALSE(deferred.IsLocked());
        EXPECT_FALSE(lock.IsOwnedByCaller());
        EXPECT_TRUE(deferred.Lock());
        EXPECT_TRUE(deferred.Lock()) << "a second Lock must not take a second level";
        EXPECT_TRUE(lock.IsOwnedByCaller());
    }
    EXPECT_FALSE(lock.IsOwnedByCaller());
    QAutoLock none(nullptr);
    EXPECT_FALSE(none.IsLocked());
}

} // namespace
