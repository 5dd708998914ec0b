#include "ui/settings_dialog.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

namespace {
constexpr char kNoLimitText[] = "无限制";
constexpr char kOutOfRange[] = "您设置的速度不在允许范围内[10KB/s - 30000KB/s]，请重新设置限速！";
} // namespace

CSettingsDlg::CSettingsDlg(const TDownloadSettings &current,
                           std::function<void(const std::string &, const std::string &)> warn, QWidget *parent)
    : QDialog(parent), warn(std::move(warn)), chosen(current)
{
    setWindowTitle("下载设置");
    auto *speedGroup = new QGroupBox("速度设置", this);
    limitBox = new QCheckBox("下载速度限制:", speedGroup);
    limitField = new QLineEdit(speedGroup);
    // Any digits, so a value out of range reaches the warning rather than
    // being silently clamped.
    limitField->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]{0,9}"), limitField));
    auto *up = new QToolButton(speedGroup);
    up->setArrowType(Qt::UpArrow);
    auto *down = new QToolButton(speedGroup);
    down->setArrowType(Qt::DownArrow);
    auto *spin = new QVBoxLayout;
    spin->setSpacing(0);
    spin->addWidget(up);
    spin->addWidget(down);
    auto *speedRow = new QHBoxLayout(speedGroup);
    speedRow->addWidget(limitBox);
    speedRow->addWidget(limitField);
    speedRow->addLayout(spin);
    speedRow->addWidget(new QLabel("KB/s", speedGroup));
    speedRow->addStretch();

    auto *advancedGroup = new QGroupBox("高级设置", this);
    shutdownBox = new QCheckBox("下载完成后关机", advancedGroup);
    p2pBox = new QCheckBox("启用P2P", advancedGroup);
    auto *advancedRow = new QHBoxLayout(advancedGroup);
    advancedRow->addWidget(shutdownBox);
    advancedRow->addWidget(p2pBox);
    advancedRow->addStretch();

    connectionsLabel = new QLabel("HTTP最大连接数 (10-200)", this);
    connectionsField = new QLineEdit(this);
    applyButton = new QPushButton("设置", this);
    cancelButton = new QPushButton("取消", this);
    auto *bottom = new QHBoxLayout;
    bottom->addWidget(connectionsLabel);
    bottom->addWidget(connectionsField);
    bottom->addStretch();
    bottom->addWidget(applyButton);
    bottom->addWidget(cancelButton);

    auto *page = new QVBoxLayout(this);
    page->addWidget(speedGroup);
    page->addWidget(advancedGroup);
    page->addLayout(bottom);

    p2pBox->hide();
    connectionsLabel->hide();
    connectionsField->hide();

    connect(limitBox, &QCheckBox::toggled, this, &CSettingsDlg::LimitToggled);
    connect(up, &QToolButton::clicked, this, [this] { Step(1); });
    connect(down, &QToolButton::clicked, this, [this] { Step(-1); });
    connect(applyButton, &QPushButton::clicked, this, &CSettingsDlg::Apply);
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);

    limitBox->setChecked(current.limitKBps != 0);
    LimitToggled(current.limitKBps != 0);
    if (current.limitKBps != 0)
        limitField->setText(QString::number(current.limitKBps));
    shutdownBox->setChecked(current.shutdownWhenDone);
    p2pBox->setChecked(current.p2pEnabled);
}

void CSettingsDlg::LimitToggled(bool on)
{
    limitField->setEnabled(on);
    limitField->setText(on ? QString::number(kSuggestedLimit) : QString(kNoLimitText));
}

void CSettingsDlg::Step(int by)
{
    if (!limitField->isEnabled())
        return;
    const int value = limitField->text().toInt();
    limitField->setText(QString::number(std::clamp(value + by, kLowestLimit, kHighestLimit)));
}

void CSettingsDlg::Apply()
{
    int32_t limit = 0;
    if (limitBox->isChecked()) {
        bool number = false;
        const qlonglong value = limitField->text().toLongLong(&number);
        if (!number || value < kLowestLimit || value > kHighestLimit) {
            warn(kOutOfRange, "警告");
            return;
        }
        limit = static_cast<int32_t>(value);
    }
    chosen.limitKBps = limit;
    chosen.shutdownWhenDone = shutdownBox->isChecked();
    chosen.p2pEnabled = p2pBox->isChecked();
    accept();
}
