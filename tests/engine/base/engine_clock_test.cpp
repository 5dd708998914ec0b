// ctest-labels: threading
#include "engine/base/engine_clock.h"

#include <atomic>
#include <ctime>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

#include "platform/tick.h"

namespace {

class EngineClockTest : public ::testing::Test {
protected:
    void SetUp() override { StopTimeThread(); }
    void TearDown() override
    {
        platform::ClearInjectedTickCount();
        StopTimeThread();
    }
};

// Waits (the time thread rounds once a second) until the clock shows want.
bool SecondsReach(uint32_t want)
{
    for (int i = 0; i < 300; ++i) {
        if (EngineSeconds() >= want)
            return true;
        platform::SleepMs(10);
    }
    return false;
}

TEST_F(EngineClockTest, TimeThreadFollowsTheTickAndSurvivesItsWrap)
{
    platform::InjectTickCount(0xFFFFF000u);
    TimeEnsure();
    uint32_t seconds = EngineSeconds();
    int64_t time = EngineTime();

    platform::InjectTickCount(0xFFFFF000u + 2500);
    ASSERT_TRUE(SecondsReach(seconds + 2));
    // The count wraps to a small value: one second is added and counting
    // goes on from the new base, never backwards.
    platform::InjectTickCount(200);
    ASSERT_TRUE(SecondsReach(seconds + 3));
    platform::InjectTickCount(200 + 1999);
    ASSERT_TRUE(SecondsReach(seconds + 4));
    platform::SleepMs(1100);
    EXPECT_EQ(EngineSeconds(), seconds + 4) << "a frozen tick must not move the clock";
    EXPECT_EQ(EngineTime() - time, 4);
}

TEST_F(EngineClockTest, AdvanceMovesBothClocksAtOnce)
{
    uint32_t seconds = EngineSeconds();
    int64_t time = EngineTime();
    AdvanceEngineClock(900);
    EXPECT_GE(EngineSeconds() - seconds, 900u);
    EXPECT_LE(EngineSeconds() - seconds, 902u);
    EXPECT_GE(EngineTime() - time, 900);
}

TEST_F(EngineClockTest, EngineTimeIsCalendarTime)
{
    int64_t now = static_cast<int64_t>(std::time(nullptr));
    int64_t engine = EngineTime();
    // Earlier tests may have advanced the clock; it never runs behind.
    EXPECT_GE(engine, now - 2);
}

TEST_F(EngineClockTest, ConcurrentFirstReadsCreateOneThreadAndStopIsClean)
{
    std::vector<std::thread> readers;
    std::atomic<uint32_t> lowest{UINT32_MAX};
    for (int i = 0; i < 8; ++i) {
        readers.emplace_back([&] {
            uint32_t value = EngineSeconds();
            uint32_t seen = lowest.load();
            while (value < seen && !lowest.compare_exchange_weak(seen, value)) {
            }
        });
    }
    for (auto &reader : readers)
        reader.join();
    EXPECT_NE(lowest.load(), 0u);
    StopTimeThread();
    StopTimeThread(); // a second stop finds nothing to do
}

} // namespace
