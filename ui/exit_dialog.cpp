#include "ui/exit_dialog.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

CExitWndSetDlg::CExitWndSetDlg(std::function<void(int)> remember, QWidget *parent)
    : QDialog(parent), remember(std::move(remember))
{
    setWindowTitle("关闭");
    auto *group = new QGroupBox("您点击了关闭按钮，您是想：", this);
    trayChoice = new QRadioButton("最小化到系统托盘，不退出程序", group);
    exitChoice = new QRadioButton("退出程序", group);
    auto *choices = new QVBoxLayout(group);
    choices->addWidget(trayChoice);
    choices->addWidget(exitChoice);
    rememberBox = new QCheckBox("记住我的选择", this);
    okButton = new QPushButton("确定", this);
    auto *bottom = new QHBoxLayout;
    bottom->addWidget(rememberBox);
    bottom->addStretch();
    bottom->addWidget(okButton);
    auto *page = new QVBoxLayout(this);
    page->addWidget(group);
    page->addLayout(bottom);
    connect(okButton, &QPushButton::clicked, this, &CExitWndSetDlg::Confirm);
    Prepare();
}

void CExitWndSetDlg::Prepare()
{
    trayChoice->setChecked(true);
}

void CExitWndSetDlg::Confirm()
{
    answer = trayChoice->isChecked() ? kToTray : kExit;
    if (rememberBox->isChecked())
        remember(answer);
    accept();
}
