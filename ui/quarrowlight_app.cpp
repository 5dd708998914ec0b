#include "ui/quarrowlight_app.h"

#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <cstring>

#include "app/expiry_check.h"
#include "app/package_manifest.h"
#include "app/package_services.h"
#include "platform/crash_dump.h"
#include "platform/stop_signals.h"
#include "ui/main_window.h"
#include "ui/single_instance.h"
#include "ui/window_front_end.h"

namespace {

constexpr int kStopPollMs = 100;

void Say(const std::string &text)
{
    std::fprintf(stderr, "quarrowlight: %s\n", text.c_str());
}

} // namespace

bool CpvhQuarrowlightUIApp::ParseArguments(std::string &saveDir)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--save-dir") == 0 && i + 1 < argc) {
            saveDir = argv[++i];
            continue;
        }
        Say(std::string("unknown argument ") + argv[i] + "; usage: quarrowlight [--save-dir DIR]");
        return false;
    }
    return true;
}

int CpvhQuarrowlightUIApp::Run()
{
    platform::InstallCrashDumpHandler();
    QApplication application(argc, argv);
    std::string saveDir;
    if (!ParseArguments(saveDir))
        return 2;
    // Closing a message box while the window sits in the tray must not end
    // the program behind the controller's back; only the window's end does.
    application.setQuitOnLastWindowClosed(false);

    PackageManifest manifest;
    LoadManifest(manifest);
    if (manifest.HasNoServers()) {
        Say("this program carries no package: it is unstamped. Stamp one into it with qlpack: "
            "qlpack package.ini quarrowlight quarrowlight-stamped");
        return 11;
    }
    std::string keys[kPackageFileCount];
    LoadInstanceKeys(keys);
    CSingleInstance instance;
    std::string detail;
    switch (instance.Claim(keys[0], detail)) {
    case CSingleInstance::Outcome::First:
        if (!detail.empty())
            Say(detail);
        break;
    case CSingleInstance::Outcome::Answered:
        return 0;
    case CSingleInstance::Outcome::Unanswered:
        Say(detail);
        return 3;
    case CSingleInstance::Outcome::Failed:
        Say(detail);
        return 4;
    }
    platform::CatchStopSignals();

    CWindowFrontEnd frontEnd;
    CPackageServices services(manifest, frontEnd);
    CpvhQuarrowlightUIDlg window(manifest, services.Services(), frontEnd, SystemDesktopHooks());
    QObject::connect(&window, &CpvhQuarrowlightUIDlg::Destroyed, &application, &QApplication::quit,
                     Qt::QueuedConnection);
    QObject::connect(&instance, &CSingleInstance::Raise, &window, &CpvhQuarrowlightUIDlg::BringForward);
    const std::string listUrl = manifest.resourceListUrl;
    if (!window.Initialise(saveDir, [&listUrl](std::string &message, std::string &page) {
            return ReadExpiry(listUrl, message, page);
        }))
        return 4;
    window.show();

    // SIGINT and SIGTERM leave as the user's own exit does.
    QTimer stopWatch;
    QObject::connect(&stopWatch, &QTimer::timeout, &window, [&window] {
        if (platform::StopSignalCaught() != 0) {
            window.Controller().SetUserExit(true);
            window.DestroyWindow();
        }
    });
    stopWatch.start(kStopPollMs);
    return application.exec();
}
