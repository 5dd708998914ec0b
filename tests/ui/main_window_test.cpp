// The window over the controller: start modes, the buttons as the state
// moves, folding, dragging, closing, the tray, worker calls and port-mapping
// notices, exits that arrive while a box is open.
#include <QHelpEvent>
#include <QMenu>
#include <QToolTip>
#include <string>
#include <thread>
#include <vector>

#include "app/package_state.h"
#include "tests/ui/window_fixture.h"
#include "ui/gui_thread.h"
#include "ui/picture_button.h"
#include "ui/skin_list_ctrl.h"
#include "ui/window_layout.h"

TEST_F(WindowTest, FreshStartShowsStartAndTheTimersRun)
{
    Open();
    ASSERT_TRUE(started);
    EXPECT_TRUE(window->StartButton()->isVisible());
    EXPECT_FALSE(window->PauseButton()->isVisible());
    EXPECT_TRUE(window->TimersRunning());
    EXPECT_EQ(window->windowTitle(), "Varnholm下载器");
    EXPECT_EQ(window->SavePathText(), SaveFolder());
    EXPECT_EQ(window->size(), QSize(411, 307));
    // The bottom corners are cut from the window and the button's corners
    // from the button.
    EXPECT_FALSE(window->mask().contains(QPoint(0, 306)));
    EXPECT_FALSE(window->mask().contains(QPoint(410, 306)));
    EXPECT_TRUE(window->mask().contains(QPoint(200, 306)));
    EXPECT_TRUE(window->mask().contains(QPoint(0, 0)));
    EXPECT_FALSE(window->StartButton()->mask().contains(QPoint(0, 0)));
    EXPECT_TRUE(window->StartButton()->mask().contains(QPoint(42, 16)));
}

TEST_F(WindowTest, ReopenedDownloadShowsPause)
{
    WriteStartedIni();
    WriteFile(FinalPath(2) + ".qltmp");
    Open();
    ASSERT_TRUE(started);
    EXPECT_TRUE(window->PauseButton()->isVisible());
    EXPECT_FALSE(window->StartButton()->isVisible());
}

TEST_F(WindowTest, FailedStartUpOrExpiredBuildEndsBeforeTheTimers)
{
    expiryMessage = "此版本已过期";
    expiryPage = "https://127.0.0.1/new";
    Open();
    EXPECT_FALSE(started);
    EXPECT_TRUE(window->IsDestroyed());
    EXPECT_FALSE(window->TimersRunning());
    EXPECT_EQ(modalTexts, QStringList{"此版本已过期"});
    EXPECT_EQ(openedUrls, QStringList{"https://127.0.0.1/new"});
    EXPECT_EQ(engine.Count("UninitEngine"), 1);
}

TEST_F(WindowTest, StartPauseContinueAndFinishFollowTheState)
{
    Open();
    ClickButton(window->StartButton());
    EXPECT_EQ(window->Controller().State(), PACKAGE_PREPARING);
    EXPECT_TRUE(window->PauseButton()->isVisible());
    EXPECT_FALSE(window->StartButton()->isVisible());
    for (int i = 0; i < kPackageFileCount; ++i)
        SetFlowing(i, 1000, 2500);
    Second();
    Second();
    EXPECT_EQ(window->Snapshot().state, PACKAGE_DOWNLOADING);
    EXPECT_TRUE(window->OpenFolderButton()->isVisible());
    EXPECT_FALSE(window->ChangeFolderButton()->isVisible());

    ClickButton(window->PauseButton());
    window->OnPollTimer();
    EXPECT_EQ(window->Snapshot().state, PACKAGE_PAUSE);
    EXPECT_TRUE(window->ResumeButton()->isVisible());
    EXPECT_FALSE(window->PauseButton()->isVisible());

    ClickButton(window->ResumeButton());
    window->OnPollTimer();
    EXPECT_TRUE(window->PauseButton()->isVisible());
    for (int i = 0; i < kPackageFileCount; ++i)
        Finish(i);
    Second();
    Second();
    EXPECT_EQ(window->Snapshot().state, PACKAGE_FINISHED);
    EXPECT_TRUE(window->InstallButton()->isVisible());
    EXPECT_TRUE(window->InstallButton()->isEnabled());
    EXPECT_EQ(window->Snapshot().texts.finished, "下载完成");
    EXPECT_EQ(window->Snapshot().barValue, 10000u);
}

TEST_F(WindowTest, ShortSpaceDisablesTheMainButton)
{
    // A reopened sparse download whose disk fills before it goes on: Pause
    // is the main button here.
    OpenWithDiskFull();
    window->OnPollTimer();
    EXPECT_EQ(window->Snapshot().state, PACKAGE_BACK);
    EXPECT_TRUE(window->Snapshot().spaceShort);
    EXPECT_FALSE(window->PauseButton()->isEnabled());
    engine.freeBytes = manifest.SpaceRequirement();
    window->OnPollTimer();
    EXPECT_EQ(window->Snapshot().state, PACKAGE_READY);
    EXPECT_FALSE(window->Snapshot().spaceShort);
    EXPECT_TRUE(window->PauseButton()->isEnabled());
}

TEST_F(WindowTest, SpeedIsReadOnceASecondAndNeverByPainting)
{
    Open();
    ClickButton(window->StartButton());
    for (int i = 0; i < kPackageFileCount; ++i)
        SetFlowing(i, 1000, 2500);
    window->OnPollTimer();
    ASSERT_EQ(window->Controller().State(), PACKAGE_RELOAD);
    // Data flows, but only the once-a-second speed read promotes the state.
    window->grab();
    window->repaint();
    window->OnPollTimer();
    EXPECT_EQ(window->Controller().State(), PACKAGE_RELOAD);
    window->OnTickTimer();
    EXPECT_EQ(window->Controller().State(), PACKAGE_DOWNLOADING);
    EXPECT_EQ(window->Snapshot().texts.percent, "25.00%");
}

TEST_F(WindowTest, FoldTabTogglesTheListInsideTheWindow)
{
    Open();
    Click(window.get(), QPoint(185, 290));
    Click(window.get(), QPoint(218, 290));
    EXPECT_TRUE(window->IsFolded());
    Click(window.get(), QPoint(200, 290));
    ASSERT_FALSE(window->IsFolded());
    EXPECT_EQ(window->height(), 385);
    EXPECT_TRUE(window->List()->isVisible());
    EXPECT_LE(window->List()->geometry().bottom(), window->height() - 1);
    EXPECT_TRUE(window->mask().isEmpty()); // the whole rectangle
    EXPECT_EQ(window->List()->topLevelItemCount(), kPackageFileCount);
    Click(window.get(), QPoint(217, 307 - 1));
    EXPECT_TRUE(window->IsFolded());
    EXPECT_EQ(window->height(), 307);
    EXPECT_FALSE(window->List()->isVisible());
}

TEST_F(WindowTest, CaptionDragMovesTheWindowWithoutAWindowManager)
{
    Open();
    window->move(100, 100);
    SendMouse(window.get(), QEvent::MouseButtonPress, QPoint(50, 10));
    SendMouse(window.get(), QEvent::MouseMove, QPoint(80, 30));
    SendMouse(window.get(), QEvent::MouseButtonRelease, QPoint(80, 30));
    EXPECT_EQ(window->pos(), QPoint(130, 120));
    // Below the caption nothing moves.
    SendMouse(window.get(), QEvent::MouseButtonPress, QPoint(50, 100));
    SendMouse(window.get(), QEvent::MouseMove, QPoint(90, 140));
    EXPECT_EQ(window->pos(), QPoint(130, 120));
}

TEST_F(WindowTest, EscapeAndEnterDoNothing)
{
    Open();
    for (int key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter})
        SendKey(window.get(), key);
    EXPECT_FALSE(window->IsDestroyed());
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->Controller().State(), PACKAGE_READY);
}

TEST_F(WindowTest, RememberedCloseSelections)
{
    Open();
    window->Controller().WriteCloseSelection(1);
    ClickButton(window->CloseButton());
    EXPECT_TRUE(window->InTray());
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(dialogRuns, 0);
    EXPECT_TRUE(window->TimersRunning()); // the download goes on in the tray
    window->OnTrayActivated(QSystemTrayIcon::DoubleClick);
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->InTray());

    // Without a notification area the window minimises instead of vanishing.
    trayPresent = false;
    window = nullptr;
    Open();
    ClickButton(window->CloseButton());
    EXPECT_FALSE(window->InTray());
    EXPECT_TRUE(window->isMinimized());

    window->Controller().WriteCloseSelection(2);
    ClickButton(window->CloseButton());
    EXPECT_TRUE(window->IsDestroyed());
    EXPECT_EQ(engine.Count("UninitEngine"), 2);
}

TEST_F(WindowTest, WindowManagerCloseRunsTheCloseAction)
{
    Open();
    window->close();
    EXPECT_EQ(dialogRuns, 1);
    EXPECT_FALSE(window->IsDestroyed()); // no answer yet: nothing happens
    EXPECT_TRUE(window->isVisible());
}

TEST_F(WindowTest, TrayMenuExitsAndADismissedMenuIsForgotten)
{
    Open();
    window->Controller().WriteCloseSelection(1);
    ClickButton(window->CloseButton());
    ASSERT_TRUE(window->InTray());
    ASSERT_NE(window->TrayMenu(), nullptr);
    EXPECT_EQ(window->TrayMenu()->actions().front()->text(), "退出(&X)");

    // Menu shown and dismissed, then restored by a double click: the close
    // button asks again instead of exiting.
    window->OnTrayMenuShown();
    window->OnTrayActivated(QSystemTrayIcon::DoubleClick);
    window->Controller().WriteCloseSelection(0);
    ClickButton(window->CloseButton());
    EXPECT_EQ(dialogRuns, 1);
    EXPECT_FALSE(window->IsDestroyed());

    window->OnTrayMenuShown();
    window->TrayMenu()->actions().front()->trigger();
    EXPECT_TRUE(window->IsDestroyed());
    EXPECT_EQ(engine.Count("UninitEngine"), 1);
}

TEST_F(WindowTest, WorkerMessagesReachTheWindowOnItsOwnThread)
{
    Open();
    std::thread worker([this] {
        windowFrontEnd.ShowMessage("来自校验线程", "Varnholm下载器");
        windowFrontEnd.PostFrontEndMessage(kInstallAfterCheckMessage);
    });
    worker.join();
    EXPECT_TRUE(Boxes().isEmpty());
    EXPECT_EQ(window->Controller().State(), PACKAGE_READY);
    QApplication::processEvents();
    EXPECT_EQ(Boxes(), QStringList{"来自校验线程"});
    // The posted message runs the main button, here the start.
    EXPECT_EQ(window->Controller().State(), PACKAGE_PREPARING);
}

// Keeps the sink the controller hands over and notes, for every call the
// controller makes back, whether it came on the window's thread.
class NoticeRecordingMapper : public IPortMapper {
public:
    int32_t MapListenPort(IPortMappingSink &notices) override
    {
        sink = &notices;
        return 45000;
    }
    std::string GatewayName() override
    {
        calls.push_back(OnGuiThread() ? "name" : "name off the window's thread");
        return "";
    }
    void ReleaseMapping() override { calls.push_back(OnGuiThread() ? "release" : "release off the window's thread"); }
    void Stop() override {}

    IPortMappingSink *sink = nullptr;
    std::vector<std::string> calls;
};

TEST_F(WindowTest, PortMappingNoticesReachTheControllerInOrderOnTheWindowsThread)
{
    NoticeRecordingMapper mapper;
    portMapper = &mapper;
    Open();
    ASSERT_NE(mapper.sink, nullptr);
    // The workers' notices go to the window, not straight to the controller.
    EXPECT_NE(mapper.sink, static_cast<IPortMappingSink *>(&window->Controller()));

    // A failure before the search ends blames the gateway the start assumed;
    // once the search found none, the next failure says so.
    std::thread worker([&mapper] {
        mapper.sink->OnPortMappingNotice(PORT_NOTICE_SEARCHING, 0);
        mapper.sink->OnPortMappingNotice(PORT_NOTICE_MAPPING_ENDED, -1);
        mapper.sink->OnPortMappingNotice(PORT_NOTICE_SEARCH_ENDED, 0);
        mapper.sink->OnPortMappingNotice(PORT_NOTICE_MAPPING_ENDED, -2);
        mapper.sink->OnPortMappingNotice(PORT_NOTICE_MAPPING_ENDED, 0);
    });
    worker.join();
    EXPECT_EQ(report.Count("11500105"), 0) << "nothing is handled on the worker's thread";
    EXPECT_TRUE(mapper.calls.empty());

    QApplication::processEvents();
    std::vector<std::string> outcomes;
    for (const ReportRecord &record : report.records) {
        if (record.code == "11500105" || record.code == "11390000")
            outcomes.push_back(record.code + " " + record.text);
    }
    EXPECT_EQ(outcomes, (std::vector<std::string>{"11500105 IGD设备已找到，但是uPnP依然失败",
                                                  "11500105 uPnP失败，因为没有IGD设备信息", "11390000 "}));
    EXPECT_EQ(mapper.calls, (std::vector<std::string>{"name", "release"}));

    // A notice still queued when the window goes is dropped: the report has stopped.
    mapper.sink->OnPortMappingNotice(PORT_NOTICE_MAPPING_ENDED, -3);
    window->DestroyWindow();
    QApplication::processEvents();
    EXPECT_EQ(report.Count("11500105"), 2);
    window.reset(); // before the mapper it uses
}

TEST_F(WindowTest, ExitFromTheTrayWhileAQuestionIsOpenWaitsForTheAnswer)
{
    Open();
    DownloadEverything();
    bool destroyedDuringQuestion = true;
    duringQuestion = [this, &destroyedDuringQuestion] {
        window->OnTrayMenuShown();
        window->OnTrayQuit();
        destroyedDuringQuestion = window->IsDestroyed();
    };
    ClickButton(window->InstallButton());
    ASSERT_FALSE(questions.isEmpty());
    EXPECT_FALSE(destroyedDuringQuestion);
    EXPECT_TRUE(window->IsDestroyed());
    EXPECT_EQ(engine.Count("UninitEngine"), 1);
}

TEST_F(WindowTest, InstallerLaunchClosesTheWindow)
{
    Open();
    DownloadEverything();
    answerYes = false; // install without the check
    ClickButton(window->InstallButton());
    ASSERT_EQ(shell.opened.size(), 1u);
    QApplication::processEvents();
    EXPECT_TRUE(window->IsDestroyed());
}

TEST_F(WindowTest, TheSavePathCutShortInItsAreaShowsWholeAsATip)
{
    Open(scratch.Path("a-folder-name-long-enough-to-be-cut-short-in-the-window"));
    ASSERT_GT(window->fontMetrics().horizontalAdvance(QString::fromStdString(window->SavePathText())),
              layout::kSavePath.width());
    const QPoint over = layout::kSavePath.center();
    QHelpEvent tip(QEvent::ToolTip, over, window->mapToGlobal(over));
    QApplication::sendEvent(window.get(), &tip);
    EXPECT_EQ(QToolTip::text().toStdString(), window->SavePathText());
}

TEST_F(WindowTest, FolderButtonChoosesOrOpensTheSaveFolder)
{
    Open();
    const std::string home = scratch.Path("home");
    std::filesystem::create_directories(scratch.Path("elsewhere"));
    pickedFolder = QString::fromStdString(scratch.Path("elsewhere"));
    ClickButton(window->ChangeFolderButton());
    EXPECT_EQ(pickerTitle, "请选择安装包存放目录:");
    EXPECT_EQ(pickerStart.toStdString(), home);
    EXPECT_EQ(window->SavePathText(), scratch.Path("elsewhere") + "/VRNH10192");
    EXPECT_EQ(window->Controller().GetSaveFolder(), window->SavePathText());

    // A folder that cannot hold the files is refused and the old one stays.
    scratch.Write("plain-file", "x");
    pickedFolder = QString::fromStdString(scratch.Path("plain-file"));
    ClickButton(window->ChangeFolderButton());
    EXPECT_EQ(window->SavePathText(), scratch.Path("elsewhere") + "/VRNH10192");
    EXPECT_EQ(Boxes(), QStringList{"该位置无法存放安装包，请选择其他位置。"});

    DownloadEverything();
    ClickButton(window->OpenFolderButton());
    ASSERT_EQ(fileManager.size(), 1);
    EXPECT_EQ(fileManager.front().toStdString(),
              window->SavePathText() + "|" + window->Controller().GetInstallerPath());
}
