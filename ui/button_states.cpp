#include "ui/button_states.h"

#include "app/package_state.h"

namespace {

// Once a download exists the folder button opens it instead of moving it.
void FolderOpens(TButtonPanel &panel)
{
    panel.changeFolder.shown = false;
    panel.openFolder = {true, true};
}

} // namespace

void ApplyPackageState(TButtonPanel &panel, uint32_t state, bool spaceShort, bool reopened)
{
    switch (state) {
    // Ready again after the disk had filled: the main button must come back,
    // or nothing could start the download.
    case PACKAGE_READY:
    case PACKAGE_BACK:
        (reopened ? panel.pause : panel.start).enabled = !spaceShort;
        break;
    case PACKAGE_PREPARING:
        panel.pause = {true, true};
        panel.start.shown = false;
        panel.changeFolder.enabled = false;
        break;
    case PACKAGE_DOWNLOADING:
    case PACKAGE_RESUME:
        panel.resume.shown = false;
        panel.pause = {true, !spaceShort};
        FolderOpens(panel);
        break;
    case PACKAGE_PAUSE:
        panel.pause.shown = false;
        panel.resume = {true, !spaceShort};
        FolderOpens(panel);
        break;
    case PACKAGE_FAILED:
        panel.pause.enabled = panel.resume.enabled = panel.install.enabled = panel.start.enabled = false;
        FolderOpens(panel);
        break;
    case PACKAGE_FINISHED:
    case PACKAGE_CHECK_FINISHED:
        panel.start.shown = panel.pause.shown = panel.resume.shown = false;
        panel.install = {true, true};
        FolderOpens(panel);
        break;
    case PACKAGE_MD5_CHECKING:
    case PACKAGE_CHECK_RECOVER:
        panel.start.shown = panel.pause.shown = panel.resume.shown = false;
        panel.install = {true, false};
        FolderOpens(panel);
        break;
    case PACKAGE_RECOVER:
    case PACKAGE_RELOAD:
        panel.pause.enabled = false;
        panel.changeFolder.enabled = false;
        break;
    default:
        break;
    }
}
