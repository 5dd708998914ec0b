#pragma once
// The downloader's one window: fixed size, frameless, painted from the
// skin. It owns the controller and drives it with two timers on its own
// thread: every 100 ms the state and the bar, every second the texts.
// Painting only draws what the timers last read.
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "app/package_controller.h"
#include "ui/button_states.h"
#include "ui/desktop_hooks.h"
#include "ui/state_texts.h"
#include "ui/window_background.h"

class CExitWndSetDlg;
class CPictureButton;
class CSkinListCtrl;
class CWindowFrontEnd;
class QMenu;

// What the timers read and the paint draws.
struct TWindowSnapshot {
    uint32_t state = 1;
    bool spaceShort = false;
    bool checkBar = false;  // the verification bar rather than the download bar
    uint32_t barValue = 0;  // hundredths of a percent
    TStateTexts texts;
    std::string sizeText;
};

// Whether this build is retired: true with the publisher's message and page.
using TExpiryCheck = std::function<bool(std::string &message, std::string &page)>;

class CpvhQuarrowlightUIDlg : public QWidget {
    Q_OBJECT
public:
    // services, frontEnd and manifest must outlive the window.
    CpvhQuarrowlightUIDlg(const PackageManifest &manifest, const TControllerServices &services,
                          CWindowFrontEnd &frontEnd, TDesktopHooks hooks, QWidget *parent = nullptr);
    ~CpvhQuarrowlightUIDlg() override;

    // Starts the controller and the timers. False when the program must end
    // (start-up failed, the build expired); the window is destroyed then.
    // saveDir: a save folder for a package not yet started, or empty.
    bool Initialise(const std::string &saveDir, const TExpiryCheck &expired);

    // Timer slots.
    void OnPollTimer();
    void OnTickTimer();

    // Commands.
    void OnStartClicked();
    void OnMainButtonClicked();
    void OnFolderClicked();
    void OnSettingsClicked();
    void OnCloseClicked();
    void OnTrayActivated(QSystemTrayIcon::ActivationReason reason);
    void OnTrayMenuShown();
    void OnTrayQuit();
    void ToggleFold();
    // Another start of the program asked this one to come forward.
    void BringForward();

    // From the controller, on this thread.
    void OnFrontEndMessage(uint32_t message);
    void OnPortMappingNotice(uint32_t step, int32_t status);
    void ShowAsyncMessage(const std::string &text, const std::string &caption);
    void ShowModalMessage(const std::string &text, const std::string &caption);
    bool AskYesNo(const std::string &text, const std::string &caption);
    // Hides the window, stops the timers and runs the controller's exit;
    // deferred while a controller call waits in a modal box.
    void DestroyWindow();

    CPackageController &Controller() { return *controller; }
    const TWindowSnapshot &Snapshot() const { return snapshot; }
    const TButtonPanel &Panel() const { return panel; }
    bool IsFolded() const { return folded; }
    bool IsDestroyed() const { return destroyed; }
    bool InTray() const { return inTray; }
    bool TimersRunning() const { return pollTimer.isActive() && tickTimer.isActive(); }
    const std::string &SavePathText() const { return savePathText; }
    CPictureButton *StartButton() const { return startButton; }
    CPictureButton *PauseButton() const { return pauseButton; }
    CPictureButton *ResumeButton() const { return resumeButton; }
    CPictureButton *InstallButton() const { return installButton; }
    CPictureButton *ChangeFolderButton() const { return changeFolderButton; }
    CPictureButton *OpenFolderButton() const { return openFolderButton; }
    CPictureButton *SettingsButton() const { return settingsButton; }
    CPictureButton *MinimiseButton() const { return minimiseButton; }
    CPictureButton *CloseButton() const { return closeButton; }
    CSkinListCtrl *List() const { return list; }
    QMenu *TrayMenu() const { return trayMenu; }

signals:
    // The window is gone; the program ends.
    void Destroyed();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool event(QEvent *event) override;

private:
    void CreateButtons();
    void CreateList();
    void CreateTray();
    void ApplyPanel();
    void RefreshTexts();
    void PaintTexts(QPainter &painter);
    void PaintBar(QPainter &painter);
    void ToTray();
    void UserExit();
    void ChooseSaveFolder();
    void OpenSaveFolder();
    // Runs a controller call that may wait in a modal box, then any exit
    // asked meanwhile.
    void RunControllerCall(const std::function<void()> &call);

    const PackageManifest &manifest;
    CWindowFrontEnd &frontEnd;
    TDesktopHooks hooks;
    std::unique_ptr<CPackageController> controller;
    CWindowBackground background;
    QFont textFont;

    QTimer pollTimer;
    QTimer tickTimer;
    TWindowSnapshot snapshot;
    TButtonPanel panel;
    uint32_t redraws = 0;
    int reopened = 0;
    std::string savePathText;
    std::string versionText;
    int32_t limitInForce = 0;
    bool shutdownWhenDone = false;

    bool folded = true;
    bool destroyed = false;
    bool inTray = false;
    bool userExitAsked = false;
    int controllerCalls = 0;
    bool exitDeferred = false;
    bool deferredUserExit = false;

    // Moving by mouse deltas where the window system cannot move the window.
    bool dragging = false;
    QPointF dragOffset;

    CPictureButton *startButton = nullptr;
    CPictureButton *pauseButton = nullptr;
    CPictureButton *resumeButton = nullptr;
    CPictureButton *installButton = nullptr;
    CPictureButton *settingsButton = nullptr;
    CPictureButton *minimiseButton = nullptr;
    CPictureButton *closeButton = nullptr;
    CPictureButton *changeFolderButton = nullptr;
    CPictureButton *openFolderButton = nullptr;
    CSkinListCtrl *list = nullptr;
    QSystemTrayIcon *tray = nullptr;
    QMenu *trayMenu = nullptr;
    CExitWndSetDlg *exitDialog = nullptr;
};
