#include "cli/quarrowlight/cli_steps.h"

#include "app/package_state.h"

namespace {

TCliStep Finish(int code, const char *message)
{
    return {CliAction::Finish, code, message};
}

TCliStep OnFinished(const TCliOptions &options, TCliProgress &progress)
{
    if (options.install) {
        // The controller asks whether to verify first; the answer is --verify.
        // A launched installer closes the front-end, so seeing state 8 again
        // means the launch or the check did not start.
        if (progress.installPressed)
            return Finish(options.verify ? CLI_CHECK_NOT_STARTED : CLI_INSTALL_FAILED,
                          options.verify ? "the check could not start" : "the installer could not be launched");
        progress.installPressed = true;
        return {CliAction::PressMainButton};
    }
    if (options.verify) {
        if (progress.verificationAsked)
            return Finish(CLI_CHECK_NOT_STARTED, "the check could not start");
        progress.verificationAsked = true;
        return {CliAction::StartVerification};
    }
    return Finish(CLI_DONE, "the package is complete");
}

} // namespace

TCliStep NextCliStep(uint32_t state, bool downloadStopped, const TCliOptions &options, TCliProgress &progress)
{
    switch (state) {
    case PACKAGE_PREPARING:
    case PACKAGE_DOWNLOADING:
    case PACKAGE_RESUME:
    case PACKAGE_CHECK_RECOVER:
    case PACKAGE_RECOVER:
    case PACKAGE_RELOAD:
        // Nothing restarts a task that ended on its own; waiting would show
        // 0 B/s for ever.
        if (downloadStopped)
            return Finish(CLI_DOWNLOAD_FAILED,
                          "the download stopped: no source is delivering; the next run continues where this one stopped");
        return {};
    case PACKAGE_BACK:
    case PACKAGE_READY:
        if (progress.startPressed)
            return Finish(CLI_NOT_STARTED, "the download could not start");
        progress.startPressed = true;
        return {CliAction::PressMainButton};
    case PACKAGE_PAUSE:
        // This front-end never pauses: only a disk shortage does.
        return Finish(CLI_NO_SPACE, "paused: the save folder's disk is full; free some space and run again");
    case PACKAGE_FAILED:
        return Finish(CLI_DOWNLOAD_FAILED, "the download failed");
    case PACKAGE_FINISHED:
        return OnFinished(options, progress);
    case PACKAGE_CHECK_FINISHED:
        if (!options.install)
            return Finish(CLI_DONE, "every file passed its MD5 check");
        if (progress.installAfterCheckDispatched)
            return Finish(CLI_INSTALL_FAILED, "the installer could not be launched");
        return {};
    default:
        return {};
    }
}
