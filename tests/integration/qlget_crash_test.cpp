// qlget killed at random moments and at each crash point, then run again
// until the file is complete: no resume goes backwards and the file ends
// byte-identical. Each run lasts a few seconds, shorter than the save
// interval; the long run's kills after periodic saves bound the loss.
#include "tests/integration/crash_harness.h"

namespace {

constexpr size_t kFileBytes = 24u << 20;
constexpr int32_t kLimitKBps = 256;
constexpr uint32_t kCrashPointWaitMs = 60000;
constexpr uint32_t kStopAfterMs = 3000;

// Kills at random moments; every third run is stopped cleanly instead. Runs
// that last past a periodic save are left to the long run.
void EndRepeatedly(TCrashHarness &harness, int runs)
{
    for (int i = 0; i < runs && !harness.complete; ++i) {
        uint32_t delay = harness.KillDelay(1500, 4000);
        auto how = i % 3 == 2 ? TCrashHarness::TEnd::Interrupt : TCrashHarness::TEnd::Kill;
        if (harness.RunAndEnd(delay, how) && how == TCrashHarness::TEnd::Kill)
            ++harness.figures.kills;
    }
}

void CrashAt(TCrashHarness &harness, const char *point, TCrashHarness::TEnd how = TCrashHarness::TEnd::Kill,
             uint32_t delayMs = kCrashPointWaitMs)
{
    harness.RunAndEnd(delayMs, how, point);
    ++harness.figures.crashPoints;
}

// The task saves its state at a clean stop too, so stopping a short run
// reaches the record rename (unless the run's first save already did) without
// waiting for a periodic save.
void CrashAtRecordRename(TCrashHarness &harness)
{
    CrashAt(harness, "record-rename", TCrashHarness::TEnd::Interrupt, kStopAfterMs);
}

void Report(const TCrashHarness &harness)
{
    std::printf("crash harness: %d kills, %d crash points, largest loss per resume %lld bytes (%.1f s of work), "
                "%lld bytes sent in all\n",
                harness.figures.kills, harness.figures.crashPoints,
                static_cast<long long>(harness.figures.largestLossBytes), harness.figures.largestLossSeconds,
                static_cast<long long>(harness.figures.bytesSent));
}

// The second half of a run: more kills, a crash at the final rename, then
// a run to the end and the figures. The rest of the file comes at full speed.
void KillsThenCompletion(TCrashHarness &harness)
{
    EndRepeatedly(harness, 8);
    ASSERT_FALSE(harness.complete) << "the file must outlast the kills";
    EXPECT_GE(harness.figures.kills, 10);
    harness.FullSpeed();
    CrashAt(harness, "final-rename");
    harness.Finish();
    Report(harness);
}

TEST(QlgetCrashTest, HttpTaskSurvivesKillsAndCrashPoints)
{
    TCrashHarness harness(CrashSeed(), false, kLimitKBps);
    ASSERT_TRUE(harness.Start(kFileBytes));
    EndRepeatedly(harness, 8);
    CrashAtRecordRename(harness);
    KillsThenCompletion(harness);
}

TEST(QlgetCrashTest, P2spTaskSurvivesKillsAndCrashPoints)
{
    TCrashHarness harness(CrashSeed(), true, kLimitKBps);
    ASSERT_TRUE(harness.Start(kFileBytes));
    EndRepeatedly(harness, 8);
    CrashAtRecordRename(harness);
    // Without its state file the task re-reads what is on disk.
    harness.RemoveStateFile();
    CrashAt(harness, "full-check");
    KillsThenCompletion(harness);
}

} // namespace
