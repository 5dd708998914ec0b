// ctest-labels: long
// The long crash run: a hundred kills of each task kind.
#include "tests/integration/crash_harness.h"

namespace {

TEST(QlgetCrashLongTest, AHundredKillsOfEachTaskKind)
{
    for (bool withTorrent : {false, true}) {
        TCrashHarness harness(CrashSeed(), withTorrent, 192);
        ASSERT_TRUE(harness.Start(128u << 20));
        for (int i = 0; i < 100 && !harness.complete; ++i) {
            uint32_t delay = i % 10 == 9 ? harness.KillDelay(21000, 30000) : harness.KillDelay(1000, 3000);
            if (harness.RunAndEnd(delay, TCrashHarness::TEnd::Kill))
                ++harness.figures.kills;
        }
        EXPECT_GE(harness.figures.kills, 100);
        harness.Finish();
        std::printf("crash harness (long, %s): %d kills, largest loss per resume %lld bytes (%.1f s of work), "
                    "%lld bytes sent for a %d MiB file\n",
                    withTorrent ? "P2SP" : "HTTP", harness.figures.kills,
                    static_cast<long long>(harness.figures.largestLossBytes), harness.figures.largestLossSeconds,
                    static_cast<long long>(harness.figures.bytesSent), 128);
    }
}

} // namespace
