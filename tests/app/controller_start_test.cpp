// Start-up decisions and the Start command of the package controller.
#include "tests/app/controller_doubles.h"

#include "app/finish_stamps.h"

#include <unistd.h>

namespace {

TEST_F(ControllerTest, FreshStartWaitsForTheUserWithEverythingDerived)
{
    Make();
    EXPECT_EQ(controller->StartUp(), 0);
    EXPECT_EQ(controller->State(), 1u);
    EXPECT_EQ(controller->GetSaveFolder(), SaveFolder());
    EXPECT_EQ(engine.Count("InitEngine"), 0);
    EXPECT_EQ(engine.listenPort, 0);
    EXPECT_FALSE(engine.lanDiscovery) << "off unless the package is stamped with it";
    EXPECT_EQ(report.configPath, DataFolder() + "/dataupload.qlconf");
    EXPECT_EQ(report.collectedGameId, "991002359");
    EXPECT_TRUE(Logged("=====================正在初始化====================="));
}

TEST_F(ControllerTest, StampedLanDiscoveryIsHandedToTheEngine)
{
    manifest.lanDiscovery = true;
    Make();
    EXPECT_EQ(controller->StartUp(), 0);
    EXPECT_TRUE(engine.lanDiscovery);
}

TEST_F(ControllerTest, ReportConfigurationDecidesWhetherStartUpGoesOn)
{
    // Not carried at all: reporting stays off and start-up continues.
    resources.items.erase("DUCONF#181");
    Make();
    EXPECT_EQ(controller->StartUp(), 0);
    EXPECT_EQ(report.configPath, "");

    // Carried but unwritable anywhere: fatal.
    resources.items["DUCONF#181"] = Base64Encode("[x]\n");
    class Unwritable : public ControllerFileSystem {
    public:
        using ControllerFileSystem::ControllerFileSystem;
        bool WriteOwnFile(const std::string &, const std::string &) override { return false; }
    } unwritable(scratch);
    TControllerServices services{engine, report, frontEnd, unwritable, clock, resources, power, shell};
    CPackageController failing(manifest, services);
    EXPECT_EQ(failing.StartUp(), -2);
    ASSERT_NE(report.Last("11400190"), nullptr);
    EXPECT_EQ(report.Last("11400190")->text, "QLconf资源释放失败");
}

TEST_F(ControllerTest, StartCreatesSixP2spTasksFromTheManifest)
{
    StartDownload();
    EXPECT_EQ(engine.Count("InitEngine"), 1);
    ASSERT_EQ(engine.tasks.size(), 6u);
    for (int i = 0; i < kPackageFileCount; ++i) {
        const FakeTask &task = Task(i);
        EXPECT_EQ(task.param.flags, TASK_FLAG_FILE_PATH | TASK_FLAG_P2SP);
        EXPECT_EQ(std::string(task.param.p2spUrl), "file://" + DataFolder() + "/" + manifest.md5[i]);
        EXPECT_EQ(task.sources, manifest.url[i]);
        EXPECT_EQ(std::string(task.param.targetPath), FinalPath(i));
        EXPECT_EQ(std::string(task.param.resumePath),
                  DataFolder() + "/" + manifest.packageKey + "QLInfo/" + manifest.name[i] + ".qlinfo");
        EXPECT_EQ(task.param.userState, 0u);
        EXPECT_FALSE(task.recovered);
        // No limit is the engine's 0, not 32767 shared out.
        EXPECT_EQ(task.speedLimit, 0);
    }
    ASSERT_NE(report.Last("11010000"), nullptr);
    EXPECT_EQ(report.Last("11010000")->flags, 7);
    EXPECT_EQ(engine.httpWrap, 1);
    EXPECT_EQ(IniValue(kPackageTaskSection, "QuarrowlightTaskSavePath"), SaveFolder());
    EXPECT_EQ(IniValue(kPackageTaskSection, "QuarrowlightHttpTaskUrl3"), manifest.url[3]);
    EXPECT_EQ(IniValue(kPackageTaskSection, "QuarrowlightTaskHash"), manifest.packageKey);
}

TEST_F(ControllerTest, FailuresWhileStartingLeaveTheirMarks)
{
    // A torrent that cannot be written: that file is a plain HTTP task.
    resources.items.erase("TORRENT#304");
    engine.failingTargets.push_back("f5.v");
    StartDownload();
    EXPECT_EQ(Task(3).param.flags, TASK_FLAG_FILE_PATH);
    EXPECT_EQ(std::string(Task(3).param.p2spUrl), "");
    EXPECT_EQ(report.Count("11400190"), 1);
    // A failed creation leaves its file without a task, so the package
    // never counts it finished.
    EXPECT_EQ(engine.ForFile("f5.v"), nullptr);
    for (int i = 0; i < 5; ++i)
        Finish(i);
    controller->Tick();
    EXPECT_EQ(controller->State(), 3u);
}

TEST_F(ControllerTest, EngineThatWillNotStartLeavesThePackagePreparingWithoutTasks)
{
    engine.initResult = ENGINE_SOCKET_STARTUP_FAILED;
    StartDownload();
    EXPECT_TRUE(engine.tasks.empty());
    EXPECT_EQ(frontEnd.modal, std::vector<std::string>{"下载启动失败请重试"});
    ASSERT_NE(report.Last("11400101"), nullptr);
    EXPECT_EQ(report.Last("11400101")->text, "Begin Download Task 环境初始化失败");
}

TEST_F(ControllerTest, ShortageAtStartIsClearedByALaterStartOrAnotherFolder)
{
    engine.freeBytes = manifest.SpaceRequirement() - 1;
    Started();
    controller->OnMainButton();
    EXPECT_EQ(controller->State(), 1u);
    EXPECT_TRUE(controller->IsSpaceShort());
    EXPECT_EQ(frontEnd.Count("当前磁盘空间不足，请选择其他位置存放"), 1);
    EXPECT_TRUE(engine.tasks.empty());

    EXPECT_TRUE(controller->SetSaveFolder(scratch.Path("elsewhere")));
    EXPECT_FALSE(controller->IsSpaceShort());
    controller->OnMainButton();
    EXPECT_TRUE(controller->IsSpaceShort());

    engine.freeBytes = manifest.SpaceRequirement();
    controller->OnMainButton();
    EXPECT_FALSE(controller->IsSpaceShort());
    EXPECT_EQ(controller->State(), 3u);

    EXPECT_FALSE(controller->SetSaveFolder("relative/folder"));
    EXPECT_FALSE(controller->SetSaveFolder("/" + std::string(4095, 'x')));
}

TEST_F(ControllerTest, SaveFolderWhereNoFileCanBeMadeIsRefused)
{
    Started();
    const std::string chosen = controller->GetSaveFolder();
    scratch.Write("a-file", "not a folder");
    std::vector<std::string> refused{scratch.Path("a-file"), scratch.Path("a-file/below"), "/proc/self",
                                     "/proc/self/fd/new", "/sys/kernel"};
    // The superuser writes anywhere that is mounted writable.
    if (geteuid() != 0) {
        std::filesystem::create_directories(scratch.Path("read-only"));
        std::filesystem::permissions(scratch.Path("read-only"), std::filesystem::perms::owner_read |
                                                                   std::filesystem::perms::owner_exec);
        refused.push_back(scratch.Path("read-only"));
    }
    for (const std::string &folder : refused) {
        EXPECT_FALSE(controller->SetSaveFolder(folder)) << folder;
        EXPECT_EQ(controller->GetSaveFolder(), chosen);
    }
    // A folder yet to be made is fine where it can be made.
    EXPECT_TRUE(controller->SetSaveFolder(scratch.Path("new/deeper")));
    EXPECT_EQ(controller->GetSaveFolder(), scratch.Path("new/deeper"));
}

TEST_F(ControllerTest, CompletePackageWithMatchingStampsIsFinishedAtOnce)
{
    WriteStartedIni();
    WriteIni("QuarrowlightTaskIsComplete", "COMPLETE");
    {
        CPackageIni ini(files, clock);
        ini.SetPath(IniPath());
        CFinishStamps stamps(ini, files);
        for (int i = 0; i < kPackageFileCount; ++i) {
            WriteFile(FinalPath(i));
            ASSERT_TRUE(stamps.WriteStamp(i, FinalPath(i)));
        }
    }
    Make();
    EXPECT_EQ(controller->StartUp(), 1);
    EXPECT_EQ(controller->State(), 8u);
    EXPECT_EQ(engine.Count("Recover"), 0);
    EXPECT_EQ(report.Count("11030000"), 0);
    EXPECT_EQ(controller->PollState(), 8u);
    EXPECT_EQ(report.Count("11060000"), 0); // no task ran in this run
    EXPECT_EQ(controller->GetOverallProgress(), 10000u);
    EXPECT_EQ(controller->GetStatusText(2), "√ 下载完成  ");
}

TEST_F(ControllerTest, ReopeningTrustsStampedFilesAndReopensEveryOtherOne)
{
    WriteStartedIni();
    {
        CPackageIni ini(files, clock);
        ini.SetPath(IniPath());
        CFinishStamps stamps(ini, files);
        for (int i : {0, 1, 3, 5}) {
            WriteFile(FinalPath(i));
            ASSERT_TRUE(stamps.WriteStamp(i, FinalPath(i)));
        }
    }
    WriteFile(FinalPath(2) + ".qltmp");
    // File 4 was touched after it finished: its stamp no longer matches.
    WriteFile(FinalPath(4), "changed");
    WriteIni("QuarrowlightTask4FileSizeLow", "1", kFinishInfoSection);

    Make();
    EXPECT_EQ(controller->StartUp(), 1);
    EXPECT_EQ(controller->State(), 16u);
    EXPECT_EQ(engine.Count("Recover"), 2);
    ASSERT_NE(engine.ForFile("f2.v"), nullptr);
    ASSERT_NE(engine.ForFile("f4.v"), nullptr);
    EXPECT_FALSE(Task(2).force);
    EXPECT_EQ(IniValue(kPackageTaskSection, "QuarrowlightTask4"), "f4.v");
    EXPECT_EQ(report.Count("11030000"), 1);
    for (int i : {0, 1, 3, 5})
        EXPECT_EQ(controller->GetStatusText(i), "√ 下载完成  ");
}

TEST_F(ControllerTest, PartialFilesOnlyAreResumed)
{
    WriteStartedIni();
    for (int i = 0; i < kPackageFileCount; ++i)
        WriteFile(FinalPath(i) + ".qltmp");
    Make();
    EXPECT_EQ(controller->StartUp(), 1);
    EXPECT_EQ(controller->State(), 15u);
    EXPECT_EQ(engine.Count("Recover"), 6);
    EXPECT_TRUE(Logged("成功地恢复了下载，可以进行续传"));
}

TEST_F(ControllerTest, LostFilesStartOverWithoutTheIni)
{
    WriteStartedIni();
    WriteIni("QuarrowlightTaskSavePath", scratch.Path("gone"));
    Make();
    EXPECT_EQ(controller->StartUp(), 0);
    EXPECT_EQ(controller->State(), 1u);
    EXPECT_FALSE(std::filesystem::exists(IniPath()));
    EXPECT_EQ(frontEnd.Count("目标文件被删除或移动，请重新下载"), 1);
    EXPECT_EQ(controller->GetSaveFolder(), SaveFolder());
}

TEST_F(ControllerTest, IniWithOnlyTheCloseChoiceIsAFreshStart)
{
    WriteIni("QuarrowlightCloseSelection", "2");
    Make();
    EXPECT_EQ(controller->StartUp(), 0);
    EXPECT_EQ(controller->State(), 1u);
    EXPECT_TRUE(frontEnd.messages.empty());
    EXPECT_EQ(controller->ReadCloseSelection(), 2);
}

TEST_F(ControllerTest, UnsafeIniValuesFallBackToTheirDefaults)
{
    WriteStartedIni();
    WriteIni("QuarrowlightTaskHash", "../../escape");
    WriteIni("QuarrowlightDownloadInfo2", "/" + std::string(5000, 'r'));
    for (int i = 0; i < kPackageFileCount; ++i)
        WriteFile(FinalPath(i) + ".qltmp");
    Make();
    EXPECT_EQ(controller->StartUp(), 1);
    EXPECT_EQ(std::string(Task(2).param.resumePath),
              DataFolder() + "/" + manifest.packageKey + "QLInfo/f2.v.qlinfo");
    EXPECT_FALSE(std::filesystem::exists(scratch.Path("escapeQLInfo")));
}

TEST_F(ControllerTest, ConnectionOverrideOutsideItsRangeIsTheDefault)
{
    for (const auto &[stored, expected] : std::vector<std::pair<std::string, int32_t>>{
             {"9", 14}, {"201", 14}, {"60", 20}, {"", 14}}) {
        platform::IniWriteString(scratch.Path("link.ini"), "QuarrowlightTask", "QuarrowlightTaskLink", stored);
        engine.tasks.clear();
        controller.reset();
        std::filesystem::remove(IniPath());
        StartDownload();
        Finish(0);
        Finish(1);
        Finish(2);
        controller->PollState();
        for (int i = 3; i < 6; ++i)
            SetFlowing(i, 2000);
        controller->GetSpeedText();
        EXPECT_EQ(Task(3).maxServers, expected) << stored;
        EXPECT_EQ(Task(3).maxPeers, 42) << stored;
    }
}

} // namespace
