// Installer launch, exit handling and automatic shutdown of the controller.
#include "tests/app/controller_doubles.h"

#include "app/shell_launcher.h"

namespace {

class ControllerExitTest : public ControllerTest {
protected:
    // A finished package whose installer is (or is not) in the save folder.
    void Finished(bool withInstaller)
    {
        StartDownload();
        for (int i = 0; i < 6; ++i)
            Finish(i);
        if (!withInstaller)
            std::filesystem::remove(FinalPath(0));
        controller->PollState();
        controller->SetState(8);
    }
};

TEST_F(ControllerExitTest, MissingInstallerKeepsTheWindowAndTheState)
{
    Finished(false);
    controller->SetState(12);
    for (int press = 0; press < 2; ++press)
        controller->OnMainButton();
    EXPECT_EQ(frontEnd.Count("安装程序丢失"), 2);
    EXPECT_EQ(frontEnd.captions.back(), "安装失败");
    EXPECT_EQ(report.Count("11600102"), 2);
    EXPECT_EQ(report.Last("11600102")->text, "用户点击安装按钮，但是找不到安装程序，安装失败");
    EXPECT_EQ(report.Last("11070000")->text, "点击时已经验证过安装包分卷了");
    EXPECT_EQ(controller->State(), 12u);
    EXPECT_TRUE(shell.opened.empty());
    EXPECT_EQ(frontEnd.destroyed, 0);
}

TEST_F(ControllerExitTest, DeclinedCheckLaunchesTheInstallerAndTheExitSaysSo)
{
    Finished(true);
    frontEnd.answer = false;
    controller->OnMainButton();
    EXPECT_EQ(frontEnd.questions, std::vector<std::string>{"是否验证安装文件的正确性？"});
    EXPECT_EQ(report.Count("11100002"), 1);
    ASSERT_EQ(shell.opened.size(), 1u);
    EXPECT_EQ(shell.opened[0], FinalPath(0) + " in " + SaveFolder());
    EXPECT_EQ(frontEnd.destroyed, 1);
    EXPECT_EQ(controller->State(), 8u);

    controller->OnExit();
    EXPECT_TRUE(Logged("由于启动了安装程序，退出"));
    EXPECT_EQ(report.Count("11990501"), 0);
    EXPECT_EQ(report.Count("11040000"), 0);
}

TEST_F(ControllerExitTest, RefusedInstallerGivesTheReasonOfItsCode)
{
    Finished(true);
    shell.result = 5;
    controller->SetState(12);
    controller->OnMainButton();
    EXPECT_EQ(frontEnd.Count("安装程序无法正常打开"), 1);
    ASSERT_NE(report.Last("11600101"), nullptr);
    EXPECT_EQ(report.Last("11600101")->file, "f0.exe");
    EXPECT_EQ(report.Last("11600101")->text,
              "安装程序无法正常打开，原因：本次安装前通过了校验The operating system denied access to the specified file.");
    EXPECT_EQ(controller->State(), 12u);
    EXPECT_EQ(frontEnd.destroyed, 0);

    shell.result = 0;
    controller->SetState(8);
    controller->LaunchInstaller(false);
    EXPECT_EQ(report.Last("11600101")->text, "安装程序无法正常打开，原因：本次安装前没有校验Unknown open failed");
}

TEST_F(ControllerExitTest, ExitStopsEngineThenReportThenRunsOnlyOnce)
{
    StartDownload();
    controller->SetState(4);
    controller->SetUserExit(true);
    journal.clear();
    controller->OnExit();
    controller->OnExit();
    EXPECT_EQ(journal, (TJournal{"Report 11040000", "UninitEngine", "ReportStop"}));
    EXPECT_TRUE(Logged("用户点击退出按钮"));
    // Late timer calls find no tasks.
    EXPECT_EQ(controller->PollState(), 4u);
    controller->Tick();
    controller->OnMainButton();
    EXPECT_EQ(journal.size(), 3u);
}

TEST_F(ControllerExitTest, UserExitBeforeDownloadingReportsNothing)
{
    Started();
    controller->SetUserExit(true);
    controller->OnExit();
    EXPECT_EQ(report.Count("11040000"), 0);
    EXPECT_TRUE(Logged("=====================退出====================="));
}

TEST_F(ControllerExitTest, UnexplainedExitIsReportedAsACrash)
{
    StartDownload();
    controller->OnExit();
    ASSERT_NE(report.Last("11990501"), nullptr);
    EXPECT_EQ(report.Last("11990501")->text, "Unknow Exit, maybe crashed");
    EXPECT_TRUE(report.Last("11990501")->withStats);
    EXPECT_EQ(controller->State(), 17u);
    EXPECT_TRUE(Logged("=====================已退出====================="));
}

TEST_F(ControllerExitTest, RealLauncherStartsAnExecutableAndMapsARefusal)
{
    Finished(true);
    CSystemShellLauncher launcher;
    // An interpreter that cannot be executed: the start is refused (EACCES).
    WriteFile(scratch.Path("not-runnable"), "");
    std::filesystem::permissions(scratch.Path("not-runnable"), std::filesystem::perms(0644));
    WriteFile(FinalPath(0), "#!" + scratch.Path("not-runnable") + "\n");
    std::filesystem::permissions(FinalPath(0), std::filesystem::perms(0755));
    EXPECT_EQ(launcher.Open(FinalPath(0), SaveFolder()), 5);
    EXPECT_EQ(launcher.Open(FinalPath(0) + ".missing", SaveFolder()), 2);

    // One that runs: it leaves a mark in its working folder.
    WriteFile(FinalPath(0), "#!/bin/sh\necho started > started.txt\n");
    std::filesystem::permissions(FinalPath(0), std::filesystem::perms(0755));
    EXPECT_GT(launcher.Open(FinalPath(0), SaveFolder()), 32);
}

class ShutdownTest : public ControllerTest {};

TEST_F(ShutdownTest, EachFailingStepShowsTheFailure)
{
    Started();
    controller->ShutdownSoon();
    EXPECT_EQ(power.calls, (std::vector<std::string>{"OpenToken", "Enable", "Shutdown 60 一分钟后将自动关机",
                                                    "Disable"}));
    EXPECT_TRUE(frontEnd.messages.empty());

    power.calls.clear();
    power.requestOk = false;
    controller->ShutdownSoon();
    EXPECT_EQ(frontEnd.Count("自动关机失败，请手动关机"), 1);
    EXPECT_EQ(power.calls.back(), "Disable");

    power.calls.clear();
    power.tokenOk = false;
    controller->ShutdownSoon();
    EXPECT_EQ(power.calls, std::vector<std::string>{"OpenToken"});
    EXPECT_EQ(frontEnd.Count("自动关机失败，请手动关机"), 2);
    EXPECT_EQ(frontEnd.captions.back(), "Varnholm下载器");
}

} // namespace
