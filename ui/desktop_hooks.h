#pragma once
// What the window asks of the desktop, as replaceable calls: the real ones
// talk to the user and the file manager; tests put recorders in their place.
#include <QString>
#include <functional>

class QDialog;
class QWidget;

struct TDesktopHooks {
    // Whether a notification area exists to hide the window into.
    std::function<bool()> trayAvailable;
    // A folder chosen by the user, empty when cancelled.
    std::function<QString(QWidget *parent, const QString &title, const QString &start)> pickFolder;
    // Shows folder in the file manager; with item set, that file selected.
    std::function<void(const QString &folder, const QString &item)> showInFileManager;
    // Opens a web page with the desktop's handler.
    std::function<void(const QString &url)> openUrl;
    // Runs a dialog modally and returns its result code.
    std::function<int(QDialog &dialog)> runDialog;
    // A modal Yes/No question; true for Yes.
    std::function<bool(QWidget *parent, const QString &text, const QString &caption)> askYesNo;
    // A modal message with one button.
    std::function<void(QWidget *parent, const QString &text, const QString &caption)> showModal;
    // Folder of the optional res/bg.bmp and res/bg2.bmp.
    QString backgroundFolder;
};

// The hooks of the real desktop.
TDesktopHooks SystemDesktopHooks();
