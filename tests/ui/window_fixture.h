#pragma once
// The real window over the real controller and recording doubles: the
// engine, report, files and clock of the controller tests, and recorders in
// place of the tray, folder picker, file manager and modal boxes. Timer
// slots are called directly.
#include <QMessageBox>
#include <functional>

#include "app/package_state.h"
#include "tests/app/controller_doubles.h"
#include "tests/ui/qt_test_support.h"
#include "ui/main_window.h"
#include "ui/picture_button.h"
#include "ui/window_front_end.h"

class WindowTest : public ControllerTest {
protected:
    ~WindowTest() override { window.reset(); }

    CpvhQuarrowlightUIDlg &Open(const std::string &saveDir = std::string())
    {
        TControllerServices services{engine, report, windowFrontEnd, files, clock, resources, power, shell};
        services.connectionOverridePath = scratch.Path("link.ini");
        services.mapPort = portMapper;
        window.reset();
        window = std::make_unique<CpvhQuarrowlightUIDlg>(manifest, services, windowFrontEnd, Hooks());
        started = window->Initialise(saveDir, [this](std::string &message, std::string &page) {
            message = expiryMessage;
            page = expiryPage;
            return !expiryMessage.empty();
        });
        if (started)
            window->show();
        QApplication::processEvents();
        return *window;
    }

    // A reopened sparse download whose disk has filled: the window opens in
    // the ready state with no free space left.
    void OpenWithDiskFull()
    {
        WriteStartedIni();
        for (int i = 0; i < kPackageFileCount; ++i)
            WriteFile(FinalPath(i) + ".qltmp");
        files.mode = TStorageMode::Sparse;
        Open();
        window->Controller().SetState(PACKAGE_READY);
        engine.freeBytes = 0;
    }

    TDesktopHooks Hooks()
    {
        TDesktopHooks hooks;
        hooks.trayAvailable = [this] { return trayPresent; };
        hooks.pickFolder = [this](QWidget *, const QString &title, const QString &start) {
            pickerTitle = title;
            pickerStart = start;
            return pickedFolder;
        };
        hooks.showInFileManager = [this](const QString &folder, const QString &item) {
            fileManager.push_back(folder + "|" + item);
        };
        hooks.openUrl = [this](const QString &url) { openedUrls.push_back(url); };
        hooks.runDialog = [this](QDialog &dialog) {
            ++dialogRuns;
            return dialogScript ? dialogScript(dialog) : int(QDialog::Rejected);
        };
        hooks.askYesNo = [this](QWidget *, const QString &text, const QString &) {
            questions.push_back(text);
            if (duringQuestion)
                duringQuestion();
            return answerYes;
        };
        hooks.showModal = [this](QWidget *, const QString &text, const QString &) { modalTexts.push_back(text); };
        hooks.backgroundFolder = QString::fromStdString(scratch.Path("res"));
        return hooks;
    }

    // The texts of the window's open non-modal boxes.
    QStringList Boxes() const
    {
        QStringList texts;
        for (QMessageBox *box : window->findChildren<QMessageBox *>())
            texts << box->text();
        return texts;
    }

    // Everything the two timers do, once.
    void Second()
    {
        window->OnPollTimer();
        window->OnTickTimer();
    }

    // From Start through every file's completion to the finished package.
    void DownloadEverything()
    {
        ClickButton(window->StartButton());
        for (int i = 0; i < kPackageFileCount; ++i)
            SetFlowing(i, 1000, 5000);
        Second();
        for (int i = 0; i < kPackageFileCount; ++i) {
            Task(i).complete = 1;
            Task(i).info.progress = 10000;
            WriteFile(window->SavePathText() + "/" + manifest.name[i]);
        }
        Second();
        Second();
        ASSERT_EQ(window->Controller().State(), 8u);
    }

    CWindowFrontEnd windowFrontEnd;
    std::unique_ptr<CpvhQuarrowlightUIDlg> window;
    bool started = false;
    bool trayPresent = true;
    QString pickedFolder;
    QString pickerTitle;
    QString pickerStart;
    QStringList fileManager;
    QStringList openedUrls;
    QStringList questions;
    QStringList modalTexts;
    bool answerYes = false;
    std::function<void()> duringQuestion;
    std::function<int(QDialog &)> dialogScript;
    int dialogRuns = 0;
    std::string expiryMessage;
    std::string expiryPage;
};
