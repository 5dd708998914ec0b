#pragma once
// The download settings: a speed limit and shutting down when done. The P2P
// box and the HTTP connection count exist but stay hidden; pressing "设置"
// hands back the P2P setting it was opened with.
#include <QDialog>
#include <functional>
#include <string>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

struct TDownloadSettings {
    int32_t limitKBps = 0; // 0: none
    bool shutdownWhenDone = false;
    bool p2pEnabled = true;
};

class CSettingsDlg : public QDialog {
    Q_OBJECT
public:
    static constexpr int kLowestLimit = 10;
    static constexpr int kHighestLimit = 30000;
    static constexpr int kSuggestedLimit = 200;

    // warn shows a message without blocking (text, caption).
    CSettingsDlg(const TDownloadSettings &current, std::function<void(const std::string &, const std::string &)> warn,
                 QWidget *parent = nullptr);

    // What "设置" accepted; valid after the dialog ended with Accepted.
    const TDownloadSettings &Chosen() const { return chosen; }

    QCheckBox *LimitBox() const { return limitBox; }
    QLineEdit *LimitField() const { return limitField; }
    QCheckBox *ShutdownBox() const { return shutdownBox; }
    QCheckBox *P2pBox() const { return p2pBox; }
    QPushButton *ApplyButton() const { return applyButton; }
    QPushButton *CancelButton() const { return cancelButton; }

private:
    void LimitToggled(bool on);
    void Step(int by);
    void Apply();

    std::function<void(const std::string &, const std::string &)> warn;
    TDownloadSettings chosen;
    QCheckBox *limitBox;
    QLineEdit *limitField;
    QCheckBox *shutdownBox;
    QCheckBox *p2pBox;
    QLabel *connectionsLabel;
    QLineEdit *connectionsField;
    QPushButton *applyButton;
    QPushButton *cancelButton;
};
