// ctest-labels: threading
#include <gtest/gtest.h>

#include "engine/base/engine_clock.h"
#include "tests/engine/core/task_harness.h"

namespace {

TEST(SpeedClassTest, BytesOfASecondSetThePace)
{
    EXPECT_EQ(SpeedClassOf(3145729).speedClass, 1);
    EXPECT_EQ(SpeedClassOf(3145729).servicePeriod, 14);
    EXPECT_EQ(SpeedClassOf(3145728).speedClass, 2);
    EXPECT_EQ(SpeedClassOf(1536000).servicePeriod, 7);
    EXPECT_EQ(SpeedClassOf(320 * 1024).speedClass, 4);
    EXPECT_EQ(SpeedClassOf(320 * 1024).servicePeriod, 6);
    EXPECT_EQ(SpeedClassOf(307200).speedClass, 5);
    EXPECT_EQ(SpeedClassOf(0).servicePeriod, 5);
}

TEST(SpeedClassTest, LimitsBecomeBudgets)
{
    EXPECT_EQ(BudgetOfLimit(1), 3072);
    EXPECT_EQ(BudgetOfLimit(100), 102400);
    EXPECT_EQ(BudgetOfLimit(0), 1048576000);
    EXPECT_EQ(BudgetOfLimit(32766), 32766LL * 1024);
}

class StatisticsTest : public ::testing::Test {
protected:
    THarnessTask task;
};

TEST_F(StatisticsTest, TickSmoothsTheSpeedAndSetsThePace)
{
    task.payloadIn = 100000;
    task.rawIn = 320 * 1024;
    task.StatTick(false);
    EXPECT_EQ(task.live.speed, 75000);
    EXPECT_EQ(task.speedClass, 4);
    EXPECT_EQ(task.servicePeriod, 6);
    EXPECT_EQ(task.roundPause, 5u);
    EXPECT_EQ(task.rawIn, 0) << "the window closes";
    task.payloadIn = 100000;
    task.StatTick(false);
    EXPECT_EQ(task.live.speed, 93750);
    task.StatTick(true);
    EXPECT_EQ(task.live.speed, 0);
    EXPECT_NE(task.taskClock, 0);
}

TEST_F(StatisticsTest, AllowanceIsUsedUpWithinTheSecond)
{
    ASSERT_EQ(task.DownloadAllowance(), 0) << "nothing may be read before the first tick";
    task.SetSpeedLimit(1, 100);
    task.StatTick(false);
    EXPECT_EQ(task.DownloadAllowance(), 102400);
    TScriptedPeer *peer = task.AddPeer(PEER_KIND_HTTP);
    peer->tick.received = 60000;
    task.CountTick(*peer);
    EXPECT_EQ(task.DownloadAllowance(), 42400);
    task.CountTick(*peer);
    EXPECT_EQ(task.DownloadAllowance(), 0) << "an overdrawn second allows nothing more";
    task.StatTick(false);
    EXPECT_EQ(task.DownloadAllowance(), 102400);
    task.SetSpeedLimit(1, 1);
    task.StatTick(false);
    EXPECT_EQ(task.DownloadAllowance(), 3072);
}

TEST_F(StatisticsTest, ALoweredLimitBindsWithinTheSecondARaisedOneFromTheNextTick)
{
    task.StatTick(false);
    ASSERT_EQ(task.DownloadAllowance(), 1048576000) << "no limit yet";
    task.SetSpeedLimit(1, 100);
    task.SetSpeedLimit(0, 50);
    task.ApplyChangedLimits();
    EXPECT_EQ(task.DownloadAllowance(), 102400);
    EXPECT_EQ(task.UploadAllowance(), 51200);
    task.SetSpeedLimit(1, 400);
    task.ApplyChangedLimits();
    EXPECT_EQ(task.DownloadAllowance(), 102400) << "this second's bytes were already planned";
    task.StatTick(false);
    EXPECT_EQ(task.DownloadAllowance(), 409600);
}

TEST_F(StatisticsTest, RatesDriveEstimateBudgetAndSlots)
{
    ASSERT_TRUE(task.MakeDataFile(100 * 65536));
    TScriptedPeer *peer = task.AddPeer(PEER_KIND_HTTP);
    peer->period.payload = 3 * 1000;
    task.RateRound();
    EXPECT_EQ(peer->period.downRate, 1000);
    EXPECT_EQ(peer->period.payload, 0);
    task.StatTick(false);
    EXPECT_EQ(task.live.secondsLeft, 0) << "below 1024 B/s there is no estimate";
    EXPECT_EQ(task.uploadSlots, 8);
    EXPECT_EQ(task.settings.connectionBudget, 52);

    peer->period.payload = 3 * 65536;
    peer->period.sent = 3 * 200 * 1024;
    task.RateRound();
    task.StatTick(false);
    EXPECT_EQ(task.live.secondsLeft, 100);
    EXPECT_EQ(task.settings.connectionBudget, (65536 + 200 * 1024) / 4096 + 8);
    EXPECT_EQ(task.uploadSlots, 17);
    EXPECT_EQ(task.RateOfKinds(PEER_KIND_HTTP), 65536);
    EXPECT_EQ(task.RateOfKinds(PEER_KIND_BT), 0);
}

TEST_F(StatisticsTest, KindTotalsAreKeptApart)
{
    task.CountKindBytes(PEER_KIND_HTTP, 5);
    task.CountKindBytes(PEER_KIND_FTP, 7);
    task.CountKindBytes(PEER_KIND_BT, 11);
    EXPECT_EQ(task.live.httpBytes, 12u);
    EXPECT_EQ(task.live.peerBytes, 11u);
}

// The worker itself: nine hundred seconds without file data stop it.
TEST(StatisticsWorkerTest, NoDataForNineHundredSecondsStopsTheWorker)
{
    EngineSeconds();
    platform::InjectTickCount(platform::TickCount());
    platform::SleepMs(1100);
    THarnessTask task;
    task.sources.push_back({"http://127.0.0.1:9/file", 0});
    ASSERT_TRUE(task.MakeDataFile(65536));
    ASSERT_EQ(task.StartDownload(), ENGINE_OK);
    for (int i = 0; i < 179 && task.IsRunning(); ++i) {
        AdvanceEngineClock(5);
        platform::SleepMs(5);
    }
    platform::SleepMs(50);
    EXPECT_TRUE(task.IsRunning()) << "895 s without data is still within the limit";
    for (int i = 0; i < 3 && task.IsRunning(); ++i) {
        AdvanceEngineClock(5);
        platform::SleepMs(50);
    }
    for (int waited = 0; waited < 3000 && task.IsRunning(); waited += 10)
        platform::SleepMs(10);
    EXPECT_FALSE(task.IsRunning());
    EXPECT_EQ(task.snapshot.state, 0) << "a stall ends without a state code";
    EXPECT_GE(task.saves, 1) << "the resume record is saved on the way out";
    platform::ClearInjectedTickCount();
}

} // namespace
