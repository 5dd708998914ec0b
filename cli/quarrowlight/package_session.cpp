#include "cli/quarrowlight/package_session.h"

#include <cstdio>
#include <memory>
#include <vector>

#include "app/expiry_check.h"
#include "app/package_controller.h"
#include "app/package_manifest.h"
#include "app/package_services.h"
#include "cli/common/terminal_units.h"
#include "cli/quarrowlight/cli_steps.h"
#include "cli/quarrowlight/package_display.h"
#include "cli/quarrowlight/terminal_front_end.h"
#include "platform/crash_dump.h"
#include "platform/instance_lock.h"
#include "platform/stop_signals.h"
#include "platform/terminal.h"
#include "platform/tick.h"

namespace {

constexpr uint32_t kPollMs = 100;
constexpr uint32_t kTickMs = 1000;

void Say(const std::string &text)
{
    std::fprintf(stderr, "quarrowlight-cli: %s\n", text.c_str());
}

// The lock is named like the window's single-instance objects: after the
// package key, read from the manifest's second copy of the digests.
int TakeInstanceLock(platform::InstanceLock &instance)
{
    std::string keys[kPackageFileCount];
    LoadInstanceKeys(keys);
    switch (instance.Acquire("Quarrowlight_" + keys[0] + ".lock")) {
    case platform::InstanceLock::Result::Acquired:
        return CLI_DONE;
    case platform::InstanceLock::Result::HeldByAnother:
        Say("another instance is already downloading this package (lock " + instance.Path() + ")");
        return CLI_ANOTHER_INSTANCE;
    case platform::InstanceLock::Result::Failed:
        break;
    }
    Say("cannot take the instance lock " + instance.Path());
    return CLI_STARTUP_FAILED;
}

PackageManifest LoadedManifest()
{
    PackageManifest manifest;
    LoadManifest(manifest);
    return manifest;
}

class CPackageSession {
public:
    explicit CPackageSession(const TCliOptions &options)
        : options(options), manifest(LoadedManifest()), display(stderr, platform::StandardErrorIsTerminal()),
          frontEnd(options.verify, [this](const std::string &line) { display.PrintMessage(line); }),
          services(manifest, frontEnd)
    {
    }

    int Run()
    {
        if (manifest.HasNoServers()) {
            Say("this program carries no package: it is unstamped (its servers are placeholders under .invalid). "
                "Stamp a package into it with qlpack: qlpack package.ini quarrowlight-cli quarrowlight-stamped");
            return CLI_NO_PACKAGE;
        }
        controller = std::make_unique<CPackageController>(manifest, services.Services());
        const int started = controller->StartUp();
        if (started < 0) {
            Say("start-up failed (see the messages above)");
            controller->SetUserExit(true);
            controller->OnExit();
            return CLI_STARTUP_FAILED;
        }
        int code = started == 0 ? CheckExpiry() : CLI_DONE;
        if (code == CLI_DONE)
            code = ApplyOptions(started > 0);
        if (code == CLI_DONE) {
            const TCliStep end = Loop();
            Show(true);
            if (controller->MismatchSeen())
                Say("the check found damaged files and repaired them");
            Say(end.message);
            code = end.exitCode;
        }
        // Leaving closes the "window": after a launched installer the
        // controller knows why; otherwise this is the user's own exit.
        if (!frontEnd.WindowDestroyed())
            controller->SetUserExit(true);
        controller->OnExit();
        return code;
    }

private:
    // Before a first start the publisher may have retired this build: its
    // message and page are shown and no task is made.
    int CheckExpiry()
    {
        std::string message, page;
        if (!ReadExpiry(manifest.resourceListUrl, message, page))
            return CLI_DONE;
        display.PrintMessage(message);
        Say(page.empty() ? "this build has expired" : "this build has expired; see " + page);
        return CLI_EXPIRED;
    }

    int ApplyOptions(bool reopened)
    {
        if (!options.saveDir.empty()) {
            if (reopened && options.saveDir != controller->GetSaveFolder())
                Say("continuing the download in " + controller->GetSaveFolder() + "; --save-dir is ignored");
            else if (!reopened && !controller->SetSaveFolder(options.saveDir)) {
                Say("the save folder " + options.saveDir + " cannot hold the package's files");
                return CLI_FOLDER_REFUSED;
            }
        }
        Say("saving to " + controller->GetSaveFolder());
        if (options.limitGiven)
            controller->ApplySpeedLimit(options.limitKBps);
        controller->SetShutdownWhenDone(options.shutdownWhenDone);
        return CLI_DONE;
    }

    // Drives the controller until the package reaches the end the options
    // ask for, the installer closes the front-end, or a stop signal comes.
    TCliStep Loop()
    {
        uint32_t lastTick = platform::TickCount();
        for (;;) {
            if (int signal = platform::StopSignalCaught())
                return {CliAction::Finish, ExitCodeOfSignal(signal),
                        "stopped; running the program again continues the download"};
            if (frontEnd.WindowDestroyed())
                return {CliAction::Finish, CLI_DONE, "the installer was launched"};
            for (uint32_t message : frontEnd.TakePosted()) {
                if (message == kInstallAfterCheckMessage) {
                    progress.installAfterCheckDispatched = true;
                    controller->OnMainButton();
                }
            }
            if (frontEnd.WindowDestroyed())
                continue;
            const uint32_t now = platform::TickCount();
            if (now - lastTick >= kTickMs) {
                lastTick = now;
                controller->Tick();
                controller->GetSpeedText(); // once a second: it also promotes states 3, 15 and 16
            }
            const uint32_t state = controller->PollState();
            const TCliStep step = NextCliStep(state, controller->DownloadHasStopped(), options, progress);
            switch (step.action) {
            case CliAction::Wait:
                break;
            case CliAction::PressMainButton:
                controller->OnMainButton();
                break;
            case CliAction::StartVerification:
                controller->VerifyPackage();
                break;
            case CliAction::Finish:
                return step;
            }
            Show(false);
            platform::SleepMs(kPollMs);
        }
    }

    void Show(bool final)
    {
        std::vector<TFileView> views;
        for (int i = 0; i < kPackageFileCount; ++i)
            views.push_back(controller->GetFileView(i));
        display.Show(views, controller->GetPackageView(), final);
    }

    const TCliOptions &options;
    const PackageManifest manifest;
    CPackageDisplay display;
    CTerminalFrontEnd frontEnd;
    CPackageServices services;
    std::unique_ptr<CPackageController> controller;
    TCliProgress progress;
};

} // namespace

int RunPackageSession(const TCliOptions &options)
{
    platform::InstallCrashDumpHandler();
    platform::InstanceLock instance;
    if (int code = TakeInstanceLock(instance); code != CLI_DONE)
        return code;
    platform::CatchStopSignals();
    CPackageSession session(options);
    return session.Run();
}
