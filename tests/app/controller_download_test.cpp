// The package controller while it downloads: polling, ticks, limits,
// budgets, engine errors, pause and continue.
#include "tests/app/controller_doubles.h"

namespace {

TEST_F(ControllerTest, PackageMovesToDownloadingOnlyOnceDataReallyFlows)
{
    StartDownload();
    EXPECT_EQ(controller->PollState(), 3u);
    EXPECT_EQ(controller->GetSpeedText(), "0 B/s");
    SetFlowing(0, 1000, 0);
    SetFlowing(1, 24, 0);
    EXPECT_EQ(controller->GetSpeedText(), "1.0 KB/s");
    EXPECT_EQ(controller->State(), 3u);
    SetFlowing(1, 25, 0);
    EXPECT_EQ(controller->GetSpeedText(), "1.0 KB/s");
    EXPECT_EQ(controller->State(), 4u);
    EXPECT_TRUE(engine.listening);
}

TEST_F(ControllerTest, FirstProgressTurnsPreparingIntoReload)
{
    StartDownload();
    SetFlowing(2, 0, 1);
    EXPECT_EQ(controller->PollState(), 16u);
    EXPECT_TRUE(Logged("Quarrowlight Utility: 下载状态改变为reload"));
}

TEST_F(ControllerTest, DownloadHasStoppedOnlyWhenEveryUnfinishedTaskHasEnded)
{
    Started();
    EXPECT_FALSE(controller->DownloadHasStopped()) << "no task exists before Start";
    controller->OnMainButton();
    EXPECT_FALSE(controller->DownloadHasStopped());
    for (int i = 0; i < 5; ++i)
        Task(i).running = 0;
    EXPECT_FALSE(controller->DownloadHasStopped()) << "one task still runs";

    // A task whose worker ended because its file is complete is no failure,
    // even before the poll marks the file done.
    Task(5).running = 0;
    Task(5).complete = 1;
    EXPECT_FALSE(controller->DownloadHasStopped());
    Finish(5);
    controller->PollState();
    EXPECT_TRUE(controller->DownloadHasStopped()) << "the five unfinished tasks have all ended";
}

TEST_F(ControllerTest, BudgetsAreSpreadOverUnfinishedTasksOnlyWhenTheyChange)
{
    StartDownload();
    for (int i = 0; i < 6; ++i)
        SetFlowing(i, 5000);
    controller->GetSpeedText();
    // 42 over six: 7 each; 126 over six: 21 each.
    EXPECT_EQ(Task(0).maxServers, 7);
    EXPECT_EQ(Task(5).maxPeers, 21);
    const int calls = engine.peerLimitCalls;
    controller->GetSpeedText();
    EXPECT_EQ(engine.peerLimitCalls, calls);

    // Two left: the remainder goes to the first of them.
    for (int i = 0; i < 4; ++i)
        Finish(i);
    controller->PollState();
    for (int i = 0; i < 4; ++i)
        Task(i).maxServers = 0;
    Task(4).info.speed = 9000;
    controller->GetSpeedText();
    EXPECT_EQ(Task(4).maxServers, 21);
    EXPECT_EQ(Task(5).maxServers, 21);
    EXPECT_EQ(Task(4).maxPeers, 63);
    EXPECT_EQ(Task(0).maxServers, 0);
}

TEST_F(ControllerTest, ALimitSetBeforeStartGoesIntoEveryNewTask)
{
    Started();
    controller->ApplySpeedLimit(60);
    controller->OnMainButton();
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(Task(i).param.downloadLimitKBps, 10) << i;
}

TEST_F(ControllerTest, SpeedLimitIsSharedAndGrowsAsFilesFinish)
{
    StartDownload();
    for (int i = 0; i < 6; ++i)
        SetFlowing(i, 100);
    Finish(0);
    Finish(1);
    controller->PollState();
    controller->ApplySpeedLimit(30);
    // Four unfinished: 7 KB/s each, raised to 10, for all six tasks.
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(Task(i).speedLimit, 10) << i;
    controller->ApplySpeedLimit(100);
    EXPECT_EQ(Task(5).speedLimit, 25);
    Finish(2);
    Finish(3);
    controller->PollState();
    EXPECT_EQ(Task(5).speedLimit, 50);
    EXPECT_EQ(controller->GetSpeedLimit(), 100);
    controller->ApplySpeedLimit(0);
    EXPECT_EQ(Task(5).speedLimit, 0);
    EXPECT_EQ(controller->GetSpeedLimit(), 0);
}

TEST_F(ControllerTest, ShownSpeedApproachesTheLimitInsteadOfJumpingPastIt)
{
    StartDownload();
    controller->ApplySpeedLimit(10); // 10240 B/s
    SetFlowing(0, 30000);
    controller->GetSpeedText();
    EXPECT_EQ(controller->GetPackageView().speed, 15000u); // (30000 + 0) / 2
    controller->GetSpeedText();
    EXPECT_EQ(controller->GetPackageView().speed, 12620u); // (10240 + 15000) / 2
    SetFlowing(0, 5000);
    controller->GetSpeedText();
    EXPECT_EQ(controller->GetPackageView().speed, 5000u);

    // Without a limit the figure is shown as it is.
    controller->ApplySpeedLimit(0);
    SetFlowing(0, 50000000);
    EXPECT_EQ(controller->GetSpeedText(), "47.7 MB/s");
}

TEST_F(ControllerTest, FileCountsFinishedOnlyOnceItsFinalNameExists)
{
    StartDownload();
    Task(1).complete = 1;
    Task(1).info.progress = 10000;
    controller->PollState();
    controller->Tick();
    EXPECT_EQ(report.Count("11080000"), 0);
    EXPECT_EQ(IniValue(kFinishInfoSection, "QuarrowlightTask1FileSizeLow"), "");

    WriteFile(FinalPath(1), "12345");
    controller->Tick();
    ASSERT_EQ(report.Count("11080000"), 1);
    EXPECT_EQ(report.Last("11080000")->file, "f1.v");
    EXPECT_EQ(IniValue(kFinishInfoSection, "QuarrowlightTask1FileSizeLow"), "5");
    controller->PollState();
    EXPECT_EQ(report.Count("11080000"), 1);
}

TEST_F(ControllerTest, AllSixFinishedMakesThePackageCompleteOnce)
{
    StartDownload();
    controller->SetShutdownWhenDone(true);
    for (int i = 0; i < 6; ++i)
        SetFlowing(i, 4000);
    controller->GetSpeedText();
    for (int i = 0; i < 6; ++i)
        Finish(i);
    controller->PollState();
    EXPECT_EQ(controller->State(), 4u);
    controller->Tick();
    EXPECT_EQ(controller->State(), 8u);
    EXPECT_EQ(IniValue(kPackageTaskSection, "QuarrowlightTaskIsComplete"), "COMPLETE");
    EXPECT_EQ(controller->PollState(), 8u);
    controller->PollState();
    EXPECT_EQ(report.Count("11060000"), 1);
    EXPECT_EQ(power.calls.size(), 4u);
    EXPECT_EQ(power.calls[2], "Shutdown 60 一分钟后将自动关机");
    EXPECT_TRUE(Logged("Quarrowlight Utility: 触发自动关机"));
    EXPECT_EQ(controller->GetSizeText(), "27.0 MB/27.0 MB");
    EXPECT_EQ(controller->GetSpeedText(), "0 B/s");
}

TEST_F(ControllerTest, ProgressAndSizesOfLargeFilesNeedSixtyFourBits)
{
    for (int i = 0; i < 6; ++i)
        manifest.size[i] = 3000000000ULL;
    engine.freeBytes = 1ULL << 40;
    StartDownload();
    for (int i = 0; i < 6; ++i) {
        Task(i).info.totalKB = 2929687;
        Task(i).info.progress = 9000;
        Task(i).info.doneBytes = 2700000000ULL;
    }
    Task(0).info.speed = 5000;
    controller->GetSpeedText();
    controller->PollState();
    EXPECT_EQ(controller->GetOverallProgress(), 9000u);
    EXPECT_EQ(controller->GetPackageView().downloaded, 16200000000ULL);
    // Split at 2^31.
    EXPECT_EQ(IniValue(kPackageTaskSection, "QuarrowlightTaskLastSizeHigh"), "7");
    EXPECT_EQ(IniValue(kPackageTaskSection, "QuarrowlightTaskLastSizeLow"), "1167614464");
    EXPECT_EQ(controller->GetSizeText(), "15.1 GB/16.8 GB");
    EXPECT_EQ(controller->GetStatusText(3), "90.00%    ");
}

TEST_F(ControllerTest, FilesWithoutTasksCountAtMostTheirSize)
{
    Started();
    // The engine tells whole blocks on disk, more than the file holds.
    engine.diskSizes[FinalPath(0)] = static_cast<int64_t>(manifest.size[0]) + 4095;
    engine.diskSizes[FinalPath(1)] = 1000;
    controller->PollState();
    EXPECT_EQ(controller->GetPackageView().downloaded, manifest.size[0] + 1000);
}

TEST_F(ControllerTest, DownloadedSizeIsWrittenAtMostOncePerSecond)
{
    StartDownload();
    SetFlowing(0, 5000);
    controller->GetSpeedText();
    Task(0).info.doneBytes = 100;
    controller->PollState();
    EXPECT_EQ(IniValue(kPackageTaskSection, "QuarrowlightTaskLastSizeLow"), "100");
    Task(0).info.doneBytes = 200;
    controller->PollState();
    EXPECT_EQ(IniValue(kPackageTaskSection, "QuarrowlightTaskLastSizeLow"), "100");
    clock.tick += 1000;
    controller->Tick();
    EXPECT_EQ(IniValue(kPackageTaskSection, "QuarrowlightTaskLastSizeLow"), "200");
}

TEST_F(ControllerTest, EveryThreeHundredthActiveSecondIsReported)
{
    StartDownload();
    for (int second = 0; second < 899; ++second)
        controller->Tick();
    EXPECT_EQ(report.Count("11050000"), 2);
    EXPECT_EQ(IniValue(kPackageTaskSection, "QuarrowlightTaskDownloadTime"), "899");
    const ReportRecord *last = report.Last("11050000");
    ASSERT_NE(last, nullptr);
    // Reported before the 600th second is counted.
    EXPECT_EQ(last->stats.totalTime, 599u);
}

TEST_F(ControllerTest, StatisticsKeepTheLastFiguresOfTasksThatStopAnswering)
{
    StartDownload();
    for (int i = 0; i < 6; ++i) {
        Task(i).info.httpBytes = 1000;
        Task(i).info.peerBytes = 500;
    }
    for (int second = 0; second < 300; ++second)
        controller->Tick();
    engine.tasks.erase(reinterpret_cast<uintptr_t>(Task(0).param.hTask));
    controller->OnMainButton(); // state 3 has no command
    controller->SetState(4);
    controller->OnMainButton();
    const ReportRecord *pause = report.Last("11020000");
    ASSERT_NE(pause, nullptr);
    EXPECT_EQ(pause->stats.httpTotalBytes, 6000u);
    EXPECT_EQ(pause->stats.p2pTotalBytes, 3000u);
    EXPECT_EQ(pause->stats.totalBytes, 9000u);
    EXPECT_EQ(pause->stats.averageSpeed, 30u);
    EXPECT_EQ(pause->stats.totalTime, 300u);
}

TEST_F(ControllerTest, EngineErrorsAreShownOncePerChangeOfCode)
{
    StartDownload();
    SetFlowing(0, 5000);
    controller->GetSpeedText();
    Task(1).info.state = TASK_STATE_SIZE_TIMEOUT;
    Task(2).info.state = TASK_STATE_SIZE_TIMEOUT;
    controller->PollState();
    controller->PollState();
    EXPECT_EQ(frontEnd.Count("网络连接超时，下载失败"), 1);
    EXPECT_EQ(report.Count("11990202"), 1);

    Task(3).info.state = TASK_STATE_NO_SOURCE;
    Task(4).info.state = TASK_STATE_HOST_NOT_FOUND;
    controller->PollState();
    EXPECT_EQ(frontEnd.Count("下载出错，请重试"), 1);
    EXPECT_EQ(controller->State(), 4u);

    Task(5).info.state = TASK_STATE_DISK_FULL;
    controller->PollState();
    EXPECT_EQ(controller->State(), 5u);
    EXPECT_TRUE(controller->IsSpaceShort());
    EXPECT_EQ(report.Count("11990301"), 1);
    EXPECT_EQ(engine.Count("StopDownloadTasks 6"), 1);
    EXPECT_EQ(report.Count("11020000"), 0);

    Task(0).info.state = TASK_STATE_FILE_OPEN_FAILED;
    controller->PollState();
    EXPECT_EQ(controller->State(), 7u);
    EXPECT_EQ(frontEnd.Count("由于磁盘损坏无法写入，下载失败"), 1);
}

TEST_F(ControllerTest, MessageBoxesCarryTheReportIdOnceReportingRuns)
{
    Started();
    engine.freeBytes = 0;
    controller->OnMainButton();
    EXPECT_EQ(frontEnd.Count("当前磁盘空间不足，请选择其他位置存放"), 1) << "no id before reporting runs";
    report.identification = "A1B2";
    controller->OnMainButton();
    EXPECT_EQ(frontEnd.Count("当前磁盘空间不足，请选择其他位置存放\n（A1B2）"), 1);
}

TEST_F(ControllerTest, AFileSystemWithoutSparseFilesSaysSoAndSkipsTheRunningSpaceTest)
{
    files.mode = TStorageMode::Dense;
    StartDownload();
    EXPECT_TRUE(Logged("文件系统^不^支持稀疏文件"));
    SetFlowing(0, 5000);
    controller->GetSpeedText();
    engine.freeBytes = 0;
    controller->PollState();
    controller->PollState();
    EXPECT_NE(controller->State(), 5u) << "only a sparse file system needs the running test";
}

TEST_F(ControllerTest, RunningSpaceTestPausesOnceAndMovesReadyBack)
{
    files.mode = TStorageMode::Sparse;
    StartDownload();
    SetFlowing(0, 5000);
    controller->GetSpeedText();
    Task(0).info.doneBytes = 1000;
    engine.freeBytes = manifest.PackageSize() - 1001;
    controller->PollState();
    controller->PollState();
    EXPECT_EQ(controller->State(), 5u);
    EXPECT_EQ(frontEnd.Count("预留磁盘空间不足，下载暂停。"), 1);
    EXPECT_EQ(report.Count("11990301"), 1);
    EXPECT_TRUE(controller->IsSpaceShort());
    EXPECT_EQ(clock.sleptMs.load() >= 50, true);

    // Between the package size and the requirement nothing changes.
    engine.freeBytes = manifest.PackageSize();
    controller->PollState();
    EXPECT_TRUE(controller->IsSpaceShort());
    engine.freeBytes = manifest.SpaceRequirement();
    controller->PollState();
    EXPECT_FALSE(controller->IsSpaceShort());

    // Continue resumes what is not finished.
    controller->OnMainButton();
    EXPECT_EQ(controller->State(), 6u);
    EXPECT_EQ(Task(0).resumes, 1);
    EXPECT_EQ(report.Count("11030000"), 1);
}

TEST_F(ControllerTest, SparseReadyPackageGoesBackWhenTheDiskFills)
{
    WriteStartedIni();
    for (int i = 0; i < kPackageFileCount; ++i)
        WriteFile(FinalPath(i) + ".qltmp");
    files.mode = TStorageMode::Sparse;
    Started();
    controller->SetState(1);
    engine.freeBytes = 0;
    controller->PollState();
    EXPECT_EQ(controller->State(), 0u);
    EXPECT_EQ(frontEnd.Count("当前磁盘空间不足，请选择其他位置存放。"), 1);
    engine.freeBytes = manifest.SpaceRequirement();
    controller->PollState();
    EXPECT_EQ(controller->State(), 1u);
}

TEST_F(ControllerTest, ContinueReopensAFileThatWasTrustedButChangedSince)
{
    WriteStartedIni();
    {
        CPackageIni ini(files, clock);
        ini.SetPath(IniPath());
        CFinishStamps stamps(ini, files);
        WriteFile(FinalPath(0));
        ASSERT_TRUE(stamps.WriteStamp(0, FinalPath(0)));
    }
    for (int i = 1; i < kPackageFileCount; ++i)
        WriteFile(FinalPath(i) + ".qltmp");
    Started();
    ASSERT_EQ(engine.ForFile("f0.exe"), nullptr);
    controller->SetState(4);
    controller->OnMainButton();
    EXPECT_EQ(controller->State(), 5u);

    WriteFile(FinalPath(0), "damaged while paused");
    controller->OnMainButton();
    EXPECT_EQ(controller->State(), 6u);
    ASSERT_NE(engine.ForFile("f0.exe"), nullptr);
    EXPECT_TRUE(Task(0).recovered);
    EXPECT_EQ(Task(1).resumes, 1);
    EXPECT_EQ(controller->GetStatusText(0), "未开始    ");
}

TEST_F(ControllerTest, StatusTextsFollowTheVerification)
{
    StartDownload();
    Finish(0);
    Finish(1);
    controller->PollState();
    SetFlowing(2, 10, 1234);
    controller->SetState(10);
    EXPECT_EQ(controller->GetStatusText(0), "验证中：0.00%  ");
    EXPECT_EQ(controller->GetStatusText(1), "待验证    ");
    EXPECT_EQ(controller->GetStatusText(2), "12.34%    ");
    EXPECT_EQ(controller->GetStatusText(3), "未开始    ");
    controller->SetState(11);
    EXPECT_EQ(controller->GetStatusText(0), "准备修复.. ");
    controller->SetState(12);
    EXPECT_EQ(controller->GetStatusText(1), "√ 验证通过  ");
    controller->SetState(4);
    EXPECT_EQ(controller->GetStatusText(3), "准备下载    ");
    EXPECT_EQ(controller->GetFileView(2).progress, 1234u);
    EXPECT_EQ(controller->GetFileView(0).done, true);
}

} // namespace
