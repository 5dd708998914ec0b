// The settings and close dialogs as the window runs them: the limit's
// range, the hidden P2P box, and remembered or one-off close answers.
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include "tests/ui/window_fixture.h"
#include "ui/exit_dialog.h"
#include "ui/picture_button.h"
#include "ui/settings_dialog.h"

namespace {

// Opens the settings, lets edit change them, presses "设置" and returns
// the dialog's result.
std::function<int(QDialog &)> Settings(std::function<void(CSettingsDlg &)> edit)
{
    return [edit](QDialog &dialog) {
        auto &settings = dynamic_cast<CSettingsDlg &>(dialog);
        edit(settings);
        settings.ApplyButton()->click();
        return dialog.result();
    };
}

} // namespace

TEST_F(WindowTest, SettingsLimitRangeAndRemoval)
{
    Open();
    dialogScript = Settings([](CSettingsDlg &dialog) {
        EXPECT_FALSE(dialog.LimitBox()->isChecked());
        EXPECT_FALSE(dialog.LimitField()->isEnabled());
        EXPECT_EQ(dialog.LimitField()->text(), "无限制");
        EXPECT_FALSE(dialog.P2pBox()->isVisibleTo(&dialog));
        dialog.LimitBox()->setChecked(true);
        EXPECT_TRUE(dialog.LimitField()->isEnabled());
        EXPECT_EQ(dialog.LimitField()->text(), "200");
    });
    window->OnSettingsClicked();
    EXPECT_EQ(window->Controller().GetSpeedLimit(), 200);

    for (const char *outside : {"5", "30001", "9", "99999999"}) {
        dialogScript = Settings([outside](CSettingsDlg &dialog) { dialog.LimitField()->setText(outside); });
        window->OnSettingsClicked();
        EXPECT_EQ(window->Controller().GetSpeedLimit(), 200) << outside;
    }
    EXPECT_EQ(Boxes().count("您设置的速度不在允许范围内[10KB/s - 30000KB/s]，请重新设置限速！"), 4);

    for (int edge : {10, 30000}) {
        dialogScript = Settings([edge](CSettingsDlg &dialog) {
            EXPECT_TRUE(dialog.LimitBox()->isChecked()); // the limit in force comes back
            dialog.LimitField()->setText(QString::number(edge));
        });
        window->OnSettingsClicked();
        EXPECT_EQ(window->Controller().GetSpeedLimit(), edge);
    }
    dialogScript = Settings([](CSettingsDlg &dialog) {
        EXPECT_EQ(dialog.LimitField()->text(), "30000");
        dialog.LimitBox()->setChecked(false);
    });
    window->OnSettingsClicked();
    EXPECT_EQ(window->Controller().GetSpeedLimit(), 0);

    // "取消" changes nothing.
    dialogScript = [](QDialog &dialog) {
        auto &settings = dynamic_cast<CSettingsDlg &>(dialog);
        settings.LimitBox()->setChecked(true);
        settings.CancelButton()->click();
        return dialog.result();
    };
    window->OnSettingsClicked();
    EXPECT_EQ(window->Controller().GetSpeedLimit(), 0);
}

TEST_F(WindowTest, SettingsKeepThePeerSwitchInForceAndSetShutdown)
{
    Open();
    window->Controller().SetP2pEnabled(false); // as the resource list may
    dialogScript = Settings([](CSettingsDlg &dialog) { dialog.ShutdownBox()->setChecked(true); });
    window->OnSettingsClicked();
    EXPECT_FALSE(window->Controller().GetP2pEnabled());
    EXPECT_TRUE(window->Controller().GetShutdownWhenDone());
    window->Controller().SetP2pEnabled(true);
    dialogScript = Settings([](CSettingsDlg &dialog) { EXPECT_TRUE(dialog.ShutdownBox()->isChecked()); });
    window->OnSettingsClicked();
    EXPECT_TRUE(window->Controller().GetP2pEnabled());
}

TEST_F(WindowTest, CloseDialogAnswersOnceOrForGood)
{
    Open();
    // Closed by its title bar before any answer: nothing happens.
    dialogScript = [](QDialog &dialog) {
        auto &close = dynamic_cast<CExitWndSetDlg &>(dialog);
        EXPECT_TRUE(close.TrayChoice()->isChecked());
        return int(QDialog::Rejected);
    };
    ClickButton(window->CloseButton());
    EXPECT_FALSE(window->InTray());
    EXPECT_FALSE(window->IsDestroyed());

    // Tray once, not remembered; the title bar then reuses that answer.
    dialogScript = [](QDialog &dialog) {
        dynamic_cast<CExitWndSetDlg &>(dialog).OkButton()->click();
        return dialog.result();
    };
    ClickButton(window->CloseButton());
    EXPECT_TRUE(window->InTray());
    EXPECT_LE(window->Controller().ReadCloseSelection(), 0); // nothing stored
    window->OnTrayActivated(QSystemTrayIcon::Trigger);
    dialogScript = [](QDialog &) { return int(QDialog::Rejected); };
    ClickButton(window->CloseButton());
    EXPECT_TRUE(window->InTray());
    window->OnTrayActivated(QSystemTrayIcon::DoubleClick);

    // Exit, remembered: this close exits, and so does the next run's.
    dialogScript = [](QDialog &dialog) {
        auto &close = dynamic_cast<CExitWndSetDlg &>(dialog);
        close.ExitChoice()->setChecked(true);
        close.RememberBox()->setChecked(true);
        close.OkButton()->click();
        return dialog.result();
    };
    ClickButton(window->CloseButton());
    EXPECT_TRUE(window->IsDestroyed());
    const int runs = dialogRuns;
    Open();
    ClickButton(window->CloseButton());
    EXPECT_TRUE(window->IsDestroyed());
    EXPECT_EQ(dialogRuns, runs);
}
