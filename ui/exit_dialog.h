#pragma once
// Asks what the close button does: hide into the notification area or
// exit, optionally remembered. The answer stays for the rest of the run, so
// closing the dialog by its title bar reuses it.
#include <QDialog>
#include <functional>

class QCheckBox;
class QPushButton;
class QRadioButton;

class CExitWndSetDlg : public QDialog {
    Q_OBJECT
public:
    static constexpr int kToTray = 1;
    static constexpr int kExit = 2;

    // remember stores a ticked answer before the dialog closes.
    explicit CExitWndSetDlg(std::function<void(int)> remember, QWidget *parent = nullptr);

    // Selects the tray choice again; call before each showing.
    void Prepare();
    // 1 tray, 2 exit, 0 before the first "确定".
    int Answer() const { return answer; }

    QRadioButton *TrayChoice() const { return trayChoice; }
    QRadioButton *ExitChoice() const { return exitChoice; }
    QCheckBox *RememberBox() const { return rememberBox; }
    QPushButton *OkButton() const { return okButton; }

private:
    void Confirm();

    std::function<void(int)> remember;
    int answer = 0;
    QRadioButton *trayChoice;
    QRadioButton *exitChoice;
    QCheckBox *rememberBox;
    QPushButton *okButton;
};
