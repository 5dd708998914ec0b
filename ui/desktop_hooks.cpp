#include "ui/desktop_hooks.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QUrl>

namespace {

// Asks the file manager to select the item (the freedesktop FileManager1
// interface); true when a file manager took the call.
bool SelectInFileManager(const QString &item)
{
    QDBusMessage call = QDBusMessage::createMethodCall("org.freedesktop.FileManager1", "/org/freedesktop/FileManager1",
                                                       "org.freedesktop.FileManager1", "ShowItems");
    call << QStringList{QUrl::fromLocalFile(item).toString()} << QString();
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 2000);
    return reply.type() == QDBusMessage::ReplyMessage;
}

QMessageBox *Box(QWidget *parent, const QString &text, const QString &caption)
{
    auto *box = new QMessageBox(QMessageBox::NoIcon, caption, text, QMessageBox::NoButton, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    return box;
}

} // namespace

TDesktopHooks SystemDesktopHooks()
{
    TDesktopHooks hooks;
    hooks.trayAvailable = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
    hooks.pickFolder = [](QWidget *parent, const QString &title, const QString &start) {
        return QFileDialog::getExistingDirectory(parent, title, start, QFileDialog::ShowDirsOnly);
    };
    hooks.showInFileManager = [](const QString &folder, const QString &item) {
        if (!item.isEmpty() && SelectInFileManager(item))
            return;
        QProcess::startDetached("xdg-open", {folder});
    };
    hooks.openUrl = [](const QString &url) {
        const QUrl page(url);
        // Only web pages: the text comes from a downloaded list.
        if (page.scheme() == "http" || page.scheme() == "https")
            QDesktopServices::openUrl(page);
    };
    hooks.runDialog = [](QDialog &dialog) { return dialog.exec(); };
    hooks.askYesNo = [](QWidget *parent, const QString &text, const QString &caption) {
        QMessageBox *box = Box(parent, text, caption);
        box->setAttribute(Qt::WA_DeleteOnClose, false);
        QPushButton *yes = box->addButton("是", QMessageBox::YesRole);
        box->addButton("否", QMessageBox::NoRole);
        box->setDefaultButton(yes);
        box->exec();
        const bool answer = box->clickedButton() == yes;
        delete box;
        return answer;
    };
    hooks.showModal = [](QWidget *parent, const QString &text, const QString &caption) {
        QMessageBox *box = Box(parent, text, caption);
        box->setAttribute(Qt::WA_DeleteOnClose, false);
        box->setDefaultButton(box->addButton("确定", QMessageBox::AcceptRole));
        box->exec();
        delete box;
    };
    hooks.backgroundFolder = QCoreApplication::applicationDirPath() + "/res";
    return hooks;
}
