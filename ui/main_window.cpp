#include "ui/main_window.h"

#include <QHeaderView>
#include <QHelpEvent>
#include <QMenu>
#include <QPainter>
#include <QToolTip>

#include "app/package_state.h"
#include "ui/exit_dialog.h"
#include "ui/gui_thread.h"
#include "ui/picture_button.h"
#include "ui/skin_ids.h"
#include "ui/skin_list_ctrl.h"
#include "ui/skin_painter.h"
#include "ui/window_front_end.h"
#include "ui/window_layout.h"

namespace {

constexpr int kPollMs = 100;
constexpr int kTickMs = 1000;

const QColor kWhite(255, 255, 255);
const QColor kPlainText(214, 187, 170);
const QColor kPathText(204, 51, 0);

QString Q(const std::string &text)
{
    return QString::fromStdString(text);
}

bool IsCheckState(uint32_t state)
{
    return state >= PACKAGE_MD5_CHECKING && state <= PACKAGE_INSTALLING;
}

// The port mapping's notices come from its workers; the front-end queues
// them to this window's thread, where the controller's other calls run.
TControllerServices WithNoticesThrough(const TControllerServices &services, IPortMappingSink &frontEnd)
{
    TControllerServices routed = services;
    routed.portMappingNotices = &frontEnd;
    return routed;
}

} // namespace

CpvhQuarrowlightUIDlg::CpvhQuarrowlightUIDlg(const PackageManifest &manifest, const TControllerServices &services,
                                             CWindowFrontEnd &frontEnd, TDesktopHooks hooks, QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowMinimizeButtonHint), manifest(manifest),
      frontEnd(frontEnd), hooks(std::move(hooks)),
      controller(std::make_unique<CPackageController>(manifest, WithNoticesThrough(services, frontEnd))),
      background(this->hooks.backgroundFolder)
{
    frontEnd.Attach(this);
    setFixedSize(layout::kWidth, layout::kFoldedHeight);
    setWindowIcon(CSkinPainter::Emblem());
    textFont.setFamilies({"微软雅黑", "WenQuanYi Micro Hei"});
    textFont.setPixelSize(layout::kFontPixels);
    setFont(textFont);
    CreateButtons();
    CreateList();
    CreateTray();
    pollTimer.setInterval(kPollMs);
    tickTimer.setInterval(kTickMs);
    pollTimer.setTimerType(Qt::PreciseTimer);
    tickTimer.setTimerType(Qt::PreciseTimer);
    connect(&pollTimer, &QTimer::timeout, this, &CpvhQuarrowlightUIDlg::OnPollTimer);
    connect(&tickTimer, &QTimer::timeout, this, &CpvhQuarrowlightUIDlg::OnTickTimer);
}

CpvhQuarrowlightUIDlg::~CpvhQuarrowlightUIDlg()
{
    DestroyWindow();
    frontEnd.Detach(this);
}

void CpvhQuarrowlightUIDlg::CreateButtons()
{
    auto make = [this](const skin::TFaceIds &ids, const QRect &place, const char *label) {
        auto *button = new CPictureButton(this);
        button->move(place.topLeft());
        button->SetBitmaps(ids.normal, ids.pressed, ids.hover, 0, ids.disabled, true);
        button->setText(label);
        button->setFont(textFont);
        return button;
    };
    startButton = make(skin::kStartFaces, layout::kMainButton, "开始下载");
    pauseButton = make(skin::kPauseFaces, layout::kMainButton, "暂停下载");
    resumeButton = make(skin::kContinueFaces, layout::kMainButton, "继续下载");
    installButton = make(skin::kInstallFaces, layout::kMainButton, "开始安装");
    settingsButton = make(skin::kSettingsFaces, layout::kSettingsButton, "");
    minimiseButton = make(skin::kMinimiseFaces, layout::kMinimiseButton, "");
    closeButton = make(skin::kCloseFaces, layout::kCloseButton, "");
    changeFolderButton = make(skin::kFolderFaces, layout::kFolderButton, "");
    openFolderButton = make(skin::kFolderFaces, layout::kFolderButton, "");
    // The main buttons' corners are cut like the window's.
    for (CPictureButton *button : {startButton, pauseButton, resumeButton, installButton}) {
        const QImage face = CSkinPainter::Image(button->CurrentBitmap());
        button->setMask(RegionWithoutKey(face, skin::kKeyColour, 0, face.height() - 1));
    }
    ApplyPanel();
    connect(startButton, &QAbstractButton::clicked, this, &CpvhQuarrowlightUIDlg::OnStartClicked);
    for (CPictureButton *button : {pauseButton, resumeButton, installButton})
        connect(button, &QAbstractButton::clicked, this, &CpvhQuarrowlightUIDlg::OnMainButtonClicked);
    for (CPictureButton *button : {changeFolderButton, openFolderButton})
        connect(button, &QAbstractButton::clicked, this, &CpvhQuarrowlightUIDlg::OnFolderClicked);
    connect(settingsButton, &QAbstractButton::clicked, this, &CpvhQuarrowlightUIDlg::OnSettingsClicked);
    connect(minimiseButton, &QAbstractButton::clicked, this, &QWidget::showMinimized);
    connect(closeButton, &QAbstractButton::clicked, this, &CpvhQuarrowlightUIDlg::OnCloseClicked);
}

void CpvhQuarrowlightUIDlg::CreateList()
{
    list = new CSkinListCtrl(this);
    list->setFont(textFont);
    list->setColumnCount(2);
    list->setHeaderLabels({"文件名", "状态"});
    list->header()->resizeSection(0, 280);
    list->header()->resizeSection(1, 128);
    list->setGeometry(layout::kList);
    for (int i = 0; i < kPackageFileCount; ++i) {
        auto *row = new QTreeWidgetItem(list);
        row->setText(0, Q(controller->GetFileText(i)));
        row->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
    }
    list->AttachScrollbar();
    list->hide();
}

void CpvhQuarrowlightUIDlg::CreateTray()
{
    tray = new QSystemTrayIcon(CSkinPainter::Emblem(), this);
    tray->setToolTip(kMessageCaption);
    trayMenu = new QMenu(this);
    connect(trayMenu->addAction("退出(&X)"), &QAction::triggered, this, &CpvhQuarrowlightUIDlg::OnTrayQuit);
    connect(trayMenu, &QMenu::aboutToShow, this, &CpvhQuarrowlightUIDlg::OnTrayMenuShown);
    tray->setContextMenu(trayMenu);
    connect(tray, &QSystemTrayIcon::activated, this, &CpvhQuarrowlightUIDlg::OnTrayActivated);
}

bool CpvhQuarrowlightUIDlg::Initialise(const std::string &saveDir, const TExpiryCheck &expired)
{
    AssertGuiThread();
    controller->SetShutdownWhenDone(false);
    reopened = controller->StartUp();
    if (reopened < 0) {
        controller->SetUserExit(true);
        DestroyWindow();
        return false;
    }
    std::string message, page;
    if (reopened == 0 && expired && expired(message, page)) {
        hooks.showModal(this, Q(message), kMessageCaption);
        if (!page.empty())
            hooks.openUrl(Q(page));
        controller->SetUserExit(true);
        DestroyWindow();
        return false;
    }
    if (!saveDir.empty() && reopened == 0 && !controller->SetSaveFolder(saveDir))
        ShowAsyncMessage("该位置无法存放安装包，请选择其他位置。", kMessageCaption);
    (reopened > 0 ? panel.pause : panel.start).shown = true;
    ApplyPanel();
    pollTimer.start();
    tickTimer.start();
    savePathText = controller->GetSaveFolder();
    versionText = controller->GetVersionText();
    setWindowTitle(kMessageCaption);
    setMask(background.FoldedRegion());
    RefreshTexts();
    return true;
}

// Every 100 ms: the state, the bar and, on a change, the buttons.
void CpvhQuarrowlightUIDlg::OnPollTimer()
{
    AssertGuiThread();
    const uint32_t state = controller->PollState();
    const bool checkBar = IsCheckState(state);
    const uint32_t bar = checkBar ? controller->GetCheckProgress() : controller->GetOverallProgress();
    if (checkBar != snapshot.checkBar || bar != snapshot.barValue) {
        snapshot.checkBar = checkBar;
        snapshot.barValue = bar;
        update(layout::kProgressBar);
    }
    const bool spaceShort = controller->IsSpaceShort();
    if (state != snapshot.state || spaceShort != snapshot.spaceShort) {
        snapshot.state = state;
        snapshot.spaceShort = spaceShort;
        ApplyPackageState(panel, state, spaceShort, reopened > 0);
        ApplyPanel();
    }
}

// Every second: the engine's clock work and the texts. The speed text is
// read here only, once a second, because reading it moves the controller on.
void CpvhQuarrowlightUIDlg::OnTickTimer()
{
    AssertGuiThread();
    ++redraws;
    const uint32_t state = snapshot.state;
    if (state != PACKAGE_FINISHED && state != PACKAGE_CHECK_FINISHED) {
        controller->Tick();
        snapshot.texts.speed = controller->GetSpeedText();
    }
    RefreshTexts();
    update();
}

void CpvhQuarrowlightUIDlg::RefreshTexts()
{
    TStateInputs in;
    in.state = snapshot.state;
    in.speedText = snapshot.texts.speed;
    in.overallProgress = controller->GetOverallProgress();
    in.checkProgress = controller->GetCheckProgress();
    in.repairProgress = controller->GetRepairProgress();
    in.repairSpeed = controller->GetRepairSpeed();
    in.mismatchSeen = controller->MismatchSeen();
    in.redraws = redraws;
    snapshot.texts = TextsForState(in);
    snapshot.sizeText = controller->GetSizeText();
    for (int i = 0; i < kPackageFileCount && i < list->topLevelItemCount(); ++i)
        list->topLevelItem(i)->setText(1, Q(controller->GetStatusText(i)));
}

void CpvhQuarrowlightUIDlg::ApplyPanel()
{
    const std::pair<CPictureButton *, const TButtonFace *> faces[] = {
        {startButton, &panel.start},       {pauseButton, &panel.pause},
        {resumeButton, &panel.resume},     {installButton, &panel.install},
        {changeFolderButton, &panel.changeFolder}, {openFolderButton, &panel.openFolder}};
    for (const auto &[button, face] : faces) {
        button->setVisible(face->shown);
        button->setEnabled(face->enabled);
    }
}

void CpvhQuarrowlightUIDlg::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    // The painter's device knows the ratio also when rendering elsewhere.
    const qreal dpr = painter.device()->devicePixelRatioF();
    const QImage scene = folded ? background.Folded(dpr) : background.Unfolded(dpr);
    painter.drawImage(QRect(QPoint(0, 0), scene.size() / scene.devicePixelRatio()), scene);
    PaintTexts(painter);
    PaintBar(painter);
}

void CpvhQuarrowlightUIDlg::PaintTexts(QPainter &painter)
{
    painter.setFont(textFont);
    auto text = [&painter](const QRect &area, const std::string &content, const QColor &colour,
                           Qt::Alignment alignment) {
        painter.setPen(colour);
        const QString shown = painter.fontMetrics().elidedText(Q(content), Qt::ElideRight, area.width());
        painter.drawText(area, alignment | Qt::AlignVCenter | Qt::TextSingleLine, shown);
    };
    // The caption's wordmark is drawn, not painted into the artwork.
    text(layout::kTitleText, kMessageCaption, kPlainText, Qt::AlignLeft);
    const TStateTexts &texts = snapshot.texts;
    if (!texts.finished.empty()) {
        text(layout::kFinishedText, texts.finished, kPlainText, Qt::AlignHCenter);
    } else {
        text(layout::kSpeedText, texts.speed, kPlainText, Qt::AlignLeft);
        text(layout::kProgressLabel, texts.label, kPlainText, Qt::AlignLeft);
        text(layout::kPercentText, texts.percent, kPlainText, Qt::AlignHCenter);
    }
    text(layout::kVersionText, versionText, kWhite, Qt::AlignLeft);
    text(layout::kSizeText, snapshot.sizeText, kPlainText, Qt::AlignLeft);
    text(layout::kSavePath, savePathText, kPathText, Qt::AlignLeft);
    text(layout::kSaveLabel, "保存位置:", kPlainText, Qt::AlignLeft);
}

void CpvhQuarrowlightUIDlg::PaintBar(QPainter &painter)
{
    const qreal dpr = painter.device()->devicePixelRatioF();
    const QRect bar = layout::kProgressBar;
    const uint32_t value = std::min<uint32_t>(snapshot.barValue, 10000);
    const int fill = bar.width() * static_cast<int>(value) / 10000;
    if (!snapshot.checkBar)
        painter.drawImage(bar.topLeft(), CSkinPainter::Image(skin::kBarEmpty, dpr));
    if (fill > 0) {
        const QImage image = CSkinPainter::Image(snapshot.checkBar ? skin::kBarCheck : skin::kBarDownload, dpr);
        painter.drawImage(QRect(bar.topLeft(), QSize(fill, bar.height())), image,
                          QRect(0, 0, qRound(fill * dpr), image.height()));
    }
}

// The save path is cut short to its area; the whole path shows as a tip.
bool CpvhQuarrowlightUIDlg::event(QEvent *event)
{
    if (event->type() == QEvent::ToolTip) {
        auto *help = static_cast<QHelpEvent *>(event);
        if (layout::kSavePath.contains(help->pos()))
            QToolTip::showText(help->globalPos(), Q(savePathText), this, layout::kSavePath);
        else
            QToolTip::hideText();
        return true;
    }
    return QWidget::event(event);
}
