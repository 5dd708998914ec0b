// ctest-labels: threading
// The controller with its verification worker: the check runs beside the
// front-end's polls, and an exit in the middle of a repair ends the worker
// before the engine goes.
#include "tests/app/controller_doubles.h"

#include "platform/tick.h"

namespace {

// MD5 of the four bytes every finished test file holds.
constexpr char kDataMd5[] = "8d777f385d3dfec8815d20f7496026dc";

class ControllerVerificationTest : public ControllerTest {
protected:
    void FinishedPackage()
    {
        for (int i = 0; i < kPackageFileCount; ++i)
            manifest.md5[i] = kDataMd5;
        manifest.packageKey = kDataMd5;
        StartDownload();
        for (int i = 0; i < kPackageFileCount; ++i)
            Finish(i);
        controller->PollState();
        controller->Tick();
        ASSERT_EQ(controller->State(), 8u);
    }
    // Waits for the worker (no timer of the controller: it only hashes small files).
    bool AwaitState(uint32_t wanted, bool poll)
    {
        for (int round = 0; round < 20000; ++round) {
            if (controller->State() == wanted)
                return true;
            if (poll) {
                controller->PollState();
                controller->GetStatusText(round % kPackageFileCount);
                controller->GetCheckProgress();
            }
            platform::SleepMs(1);
        }
        return false;
    }
};

TEST_F(ControllerVerificationTest, CheckRunsBesideThePollsAndAsksForTheInstall)
{
    FinishedPackage();
    frontEnd.answer = true;
    controller->OnMainButton();
    EXPECT_EQ(report.Count("11100001"), 1);
    ASSERT_TRUE(AwaitState(12, true));
    EXPECT_EQ(report.Count("11100004"), 1);
    EXPECT_EQ(report.Count("11500201"), 0);
    for (int round = 0; round < 2000 && frontEnd.Posted().empty(); ++round)
        platform::SleepMs(1);
    controller->PollState();
    EXPECT_EQ(frontEnd.Posted(), std::vector<uint32_t>{kInstallAfterCheckMessage});
    EXPECT_EQ(controller->GetStatusText(5), "√ 验证通过  ");

    // The front-end hands the message back as the Install command.
    controller->OnMainButton();
    EXPECT_EQ(shell.opened.size(), 1u);
    EXPECT_EQ(frontEnd.destroyed, 1);
}

TEST_F(ControllerVerificationTest, ExitDuringARepairStopsTheCheckBeforeTheEngine)
{
    FinishedPackage();
    WriteFile(FinalPath(3), "damaged");
    frontEnd.answer = true;
    controller->OnMainButton();
    // The repair waits for a download the recording engine never finishes.
    ASSERT_TRUE(AwaitState(11, false));
    // State 11 is published a moment before the worker reopens the task.
    for (int round = 0; round < 20000 && engine.recoverCalls.load() == 0; ++round)
        platform::SleepMs(1);
    controller->SetUserExit(true);
    controller->OnExit();
    EXPECT_EQ(journal.back(), "ReportStop");
    EXPECT_EQ(engine.Count("Recover"), 1);
    EXPECT_EQ(report.Count("11500201"), 1);
}

} // namespace
