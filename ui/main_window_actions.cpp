// The window's commands: the main and folder buttons, settings, closing,
// the notification-area icon, folding the list and dragging the window.
#include <QCloseEvent>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMessageBox>
#include <QWindow>

#include "app/package_paths.h"
#include "app/package_state.h"
#include "ui/exit_dialog.h"
#include "ui/gui_thread.h"
#include "ui/main_window.h"
#include "ui/picture_button.h"
#include "ui/settings_dialog.h"
#include "ui/skin_list_ctrl.h"
#include "ui/window_layout.h"

namespace {

constexpr char kNoSaveFolder[] = "下载位置不存在";
constexpr char kFolderRefused[] = "该位置无法存放安装包，请选择其他位置。";

QString Q(const std::string &text)
{
    return QString::fromStdString(text);
}

} // namespace

void CpvhQuarrowlightUIDlg::RunControllerCall(const std::function<void()> &call)
{
    ++controllerCalls;
    call();
    --controllerCalls;
    if (controllerCalls == 0 && exitDeferred) {
        exitDeferred = false;
        if (deferredUserExit)
            controller->SetUserExit(true);
        DestroyWindow();
    }
}

void CpvhQuarrowlightUIDlg::OnStartClicked()
{
    AssertGuiThread();
    RunControllerCall([this] { controller->OnMainButton(); });
    if (!destroyed && !controller->IsSpaceShort()) {
        panel.pause.shown = true;
        panel.start.shown = false;
        ApplyPanel();
    }
}

void CpvhQuarrowlightUIDlg::OnMainButtonClicked()
{
    AssertGuiThread();
    RunControllerCall([this] { controller->OnMainButton(); });
}

void CpvhQuarrowlightUIDlg::OnFrontEndMessage(uint32_t message)
{
    AssertGuiThread();
    if (message == kInstallAfterCheckMessage && !destroyed)
        OnMainButtonClicked();
}

void CpvhQuarrowlightUIDlg::OnPortMappingNotice(uint32_t step, int32_t status)
{
    AssertGuiThread();
    // One queued before the window's end would reach a stopped report.
    if (!destroyed)
        controller->OnPortMappingNotice(step, status);
}

void CpvhQuarrowlightUIDlg::OnFolderClicked()
{
    AssertGuiThread();
    const uint32_t state = controller->State();
    if (state == PACKAGE_BACK || state == PACKAGE_READY)
        ChooseSaveFolder();
    else
        OpenSaveFolder();
}

// A refused folder leaves the old one in place and says so.
void CpvhQuarrowlightUIDlg::ChooseSaveFolder()
{
    const std::string suffix = std::string("/") + kPackageFolderName;
    std::string start = savePathText;
    if (start.size() >= suffix.size() && start.compare(start.size() - suffix.size(), suffix.size(), suffix) == 0)
        start.resize(start.size() - suffix.size());
    const QString chosen = hooks.pickFolder(this, "请选择安装包存放目录:", Q(start));
    if (chosen.isEmpty())
        return;
    std::string path = chosen.toStdString();
    if (path.back() != '/')
        path += '/';
    path += kPackageFolderName;
    if (!controller->SetSaveFolder(path)) {
        ShowAsyncMessage(kFolderRefused, kMessageCaption);
        return;
    }
    savePathText = controller->GetSaveFolder();
    update(layout::kSavePath);
}

void CpvhQuarrowlightUIDlg::OpenSaveFolder()
{
    const uint32_t state = controller->State();
    const bool showsInstaller = state == PACKAGE_FINISHED || state == PACKAGE_MD5_CHECKING ||
                                state == PACKAGE_CHECK_RECOVER || state == PACKAGE_CHECK_FINISHED;
    if (showsInstaller) {
        const std::string installer = controller->GetInstallerPath();
        if (savePathText.empty() && !installer.empty()) {
            ShowAsyncMessage(kNoSaveFolder, kMessageCaption);
            return;
        }
        const bool present = !installer.empty() && QFileInfo::exists(Q(installer));
        hooks.showInFileManager(Q(savePathText), present ? Q(installer) : QString());
        return;
    }
    if (savePathText.empty())
        ShowAsyncMessage(kNoSaveFolder, kMessageCaption);
    else
        hooks.showInFileManager(Q(savePathText), QString());
}

void CpvhQuarrowlightUIDlg::OnSettingsClicked()
{
    AssertGuiThread();
    const TDownloadSettings current{limitInForce, shutdownWhenDone, controller->GetP2pEnabled()};
    CSettingsDlg dialog(
        current, [this](const std::string &text, const std::string &caption) { ShowAsyncMessage(text, caption); },
        this);
    if (hooks.runDialog(dialog) != QDialog::Accepted || destroyed)
        return;
    // Limit, then shutdown, then P2P: the order the dialog hands them over.
    const TDownloadSettings &chosen = dialog.Chosen();
    limitInForce = chosen.limitKBps;
    controller->ApplySpeedLimit(chosen.limitKBps);
    shutdownWhenDone = chosen.shutdownWhenDone;
    controller->SetShutdownWhenDone(chosen.shutdownWhenDone);
    controller->SetP2pEnabled(chosen.p2pEnabled);
}

void CpvhQuarrowlightUIDlg::OnCloseClicked()
{
    AssertGuiThread();
    int choice = controller->ReadCloseSelection();
    if (choice != CExitWndSetDlg::kToTray && choice != CExitWndSetDlg::kExit) {
        if (exitDialog == nullptr)
            exitDialog = new CExitWndSetDlg([this](int answer) { controller->WriteCloseSelection(answer); }, this);
        exitDialog->Prepare();
        hooks.runDialog(*exitDialog);
        choice = exitDialog->Answer();
    }
    if (destroyed)
        return;
    if (choice == CExitWndSetDlg::kToTray)
        ToTray();
    else if (choice == CExitWndSetDlg::kExit)
        UserExit();
}

// Without a notification area the window only minimises, so it can always
// be found again.
void CpvhQuarrowlightUIDlg::ToTray()
{
    if (!hooks.trayAvailable()) {
        showMinimized();
        return;
    }
    tray->show();
    inTray = true;
    hide();
}

void CpvhQuarrowlightUIDlg::UserExit()
{
    userExitAsked = true;
    controller->SetUserExit(true);
    DestroyWindow();
}

void CpvhQuarrowlightUIDlg::OnTrayActivated(QSystemTrayIcon::ActivationReason reason)
{
    AssertGuiThread();
    if (reason != QSystemTrayIcon::DoubleClick && reason != QSystemTrayIcon::Trigger)
        return;
    userExitAsked = false;
    controller->SetUserExit(false);
    BringForward();
}

void CpvhQuarrowlightUIDlg::BringForward()
{
    if (destroyed)
        return;
    tray->hide();
    inTray = false;
    showNormal();
    raise();
    activateWindow();
}

void CpvhQuarrowlightUIDlg::OnTrayMenuShown()
{
    userExitAsked = true;
    controller->SetUserExit(true);
}

void CpvhQuarrowlightUIDlg::OnTrayQuit()
{
    AssertGuiThread();
    if (!userExitAsked) {
        OnCloseClicked();
        return;
    }
    if (controllerCalls > 0) {
        // The box of a controller call is open: leave once the call is back.
        exitDeferred = true;
        deferredUserExit = true;
        return;
    }
    UserExit();
}

void CpvhQuarrowlightUIDlg::ShowAsyncMessage(const std::string &text, const std::string &caption)
{
    AssertGuiThread();
    auto *box = new QMessageBox(QMessageBox::NoIcon, Q(caption), Q(text), QMessageBox::NoButton, this);
    box->addButton("确定", QMessageBox::AcceptRole);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->show();
}

void CpvhQuarrowlightUIDlg::ShowModalMessage(const std::string &text, const std::string &caption)
{
    AssertGuiThread();
    hooks.showModal(this, Q(text), Q(caption));
}

bool CpvhQuarrowlightUIDlg::AskYesNo(const std::string &text, const std::string &caption)
{
    AssertGuiThread();
    return hooks.askYesNo(this, Q(text), Q(caption));
}

void CpvhQuarrowlightUIDlg::DestroyWindow()
{
    if (destroyed)
        return;
    if (controllerCalls > 0) {
        exitDeferred = true;
        return;
    }
    destroyed = true;
    hide();
    pollTimer.stop();
    tickTimer.stop();
    tray->hide();
    controller->OnExit();
    emit Destroyed();
}

void CpvhQuarrowlightUIDlg::ToggleFold()
{
    folded = !folded;
    if (folded) {
        list->hide();
        setFixedSize(layout::kWidth, layout::kFoldedHeight);
        setMask(background.FoldedRegion());
    } else {
        setFixedSize(layout::kWidth, layout::kUnfoldedHeight);
        clearMask();
        list->show();
    }
    update();
}

void CpvhQuarrowlightUIDlg::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || !layout::kCaption.contains(event->position().toPoint())) {
        QWidget::mousePressEvent(event);
        return;
    }
    // The window manager moves the window where it can; elsewhere (no
    // window manager, offscreen) the window follows the mouse itself.
    QWindow *handle = windowHandle();
    if (handle != nullptr && handle->startSystemMove())
        return;
    dragging = true;
    dragOffset = event->globalPosition() - QPointF(pos());
}

void CpvhQuarrowlightUIDlg::mouseMoveEvent(QMouseEvent *event)
{
    if (dragging)
        move((event->globalPosition() - dragOffset).toPoint());
    else
        QWidget::mouseMoveEvent(event);
}

void CpvhQuarrowlightUIDlg::mouseReleaseEvent(QMouseEvent *event)
{
    if (dragging) {
        dragging = false;
        return;
    }
    if (event->button() == Qt::LeftButton && layout::kFoldTab.contains(event->position().toPoint())) {
        ToggleFold();
        return;
    }
    QWidget::mouseReleaseEvent(event);
}

// Neither Escape nor Enter closes the window.
void CpvhQuarrowlightUIDlg::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        event->accept();
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}

// A close from the window manager is the close button's action.
void CpvhQuarrowlightUIDlg::closeEvent(QCloseEvent *event)
{
    if (destroyed) {
        event->accept();
        return;
    }
    event->ignore();
    OnCloseClicked();
}
