#include "app/package_controller.h"

#include "app/check_progress.h"
#include "app/package_state.h"
#include "app/path_text.h"

CPackageController::CPackageController(const PackageManifest &manifest, const TControllerServices &services)
    : manifest(manifest), services(services), ini(services.files, services.clock), stamps(ini, services.files),
      extractor(services.resources, services.files)
{
    verifier = std::make_unique<CVerificationThread>(*this, verification, this->manifest, services.files,
                                                     services.clock);
    reader = std::make_unique<CResourceListReader>(this->services.fetchResourceList, *this);
}

CPackageController::~CPackageController()
{
    // The workers call back into this object: they go first.
    if (services.mapPort != nullptr)
        services.mapPort->Stop();
    reader.reset();
    verifier.reset();
}

std::string CPackageController::FinalPath(int index) const
{
    return JoinPath(saveFolder, manifest.name[index]);
}

void CPackageController::ShowBox(const std::string &text, const std::string &caption)
{
    const std::string id = services.report.Identification();
    services.frontEnd.ShowMessage(id.empty() ? text : text + "\n（" + id + "）", caption);
}

bool CPackageController::SetSaveFolder(const std::string &path)
{
    QAutoLock hold(lock);
    // Refused now, the user hears the folder is wrong; taken, the tasks
    // would fail later as if the disk were damaged or full.
    if (!IsUsableSaveFolder(path, manifest) || !services.files.TakesNewFiles(path))
        return false;
    saveFolder = path;
    // The shortage was one of the old folder's drive.
    spaceShort = false;
    return true;
}

std::string CPackageController::GetSaveFolder()
{
    QAutoLock hold(lock);
    return saveFolder;
}

int32_t CPackageController::GetSpeedLimit()
{
    QAutoLock hold(lock);
    return speedLimitKBps == kNoLimit ? 0 : speedLimitKBps;
}

void CPackageController::SetShutdownWhenDone(bool on)
{
    shutdownWhenDone = on;
}

void CPackageController::SetP2pEnabled(bool on)
{
    p2pEnabled = on;
    services.engine.EnableListen(on);
}

std::string CPackageController::GetFileText(int index)
{
    if (index < 0 || index >= kPackageFileCount)
        return std::string();
    return manifest.name[index];
}

std::string CPackageController::GetInstallerPath()
{
    QAutoLock hold(lock);
    if (saveFolder.empty())
        return std::string();
    return JoinPath(saveFolder, manifest.installerName);
}

std::string CPackageController::GetVersionText() const
{
    return versionText;
}

int CPackageController::ReadCloseSelection()
{
    return ini.ReadCloseSelection();
}

int CPackageController::WriteCloseSelection(uint32_t choice)
{
    return ini.WriteCloseSelection(choice);
}

uint32_t CPackageController::GetCheckProgress()
{
    return ::GetCheckProgress(manifest, verification.checkIndex, verification.checkProgress);
}

TFileView CPackageController::GetFileView(int index)
{
    TFileView view;
    if (index < 0 || index >= kPackageFileCount)
        return view;
    QAutoLock hold(lock);
    view.name = manifest.name[index];
    view.statusText = GetStatusText(index);
    view.done = IsDone(index);
    TTaskInfo info{};
    view.known = AskTask(index, info);
    if (view.known) {
        view.progress = info.progress;
        view.speed = info.speed > 0 ? static_cast<uint32_t>(info.speed) : 0;
        view.secondsLeft = info.secondsLeft;
        view.doneBytes = info.doneBytes;
        view.httpBytes = info.httpBytes;
        view.peerBytes = info.peerBytes;
    } else if (view.done) {
        view.progress = 10000;
        view.doneBytes = manifest.size[index];
    }
    return view;
}

TPackageView CPackageController::GetPackageView()
{
    QAutoLock hold(lock);
    TPackageView view;
    view.state = state;
    view.progress = progress;
    view.downloaded = downloaded;
    view.packageSize = manifest.PackageSize();
    view.speed = shownSpeed;
    if (view.speed > 0 && view.downloaded < view.packageSize)
        view.secondsLeft = static_cast<int64_t>((view.packageSize - view.downloaded) / view.speed);
    for (int i = 0; i < kPackageFileCount; ++i) {
        view.httpBytes += lastHttpBytes[i];
        view.peerBytes += lastPeerBytes[i];
    }
    view.spaceShort = spaceShort;
    return view;
}

// Verification and repair.

std::string CPackageController::FilePath(int index)
{
    QAutoLock hold(lock);
    return FinalPath(index);
}

void CPackageController::PrepareCheck()
{
    QAutoLock hold(lock);
    WriteStartKeys();
    services.engine.EnableHttpWrap(1);
}

void CPackageController::StopTask(int index)
{
    QAutoLock hold(lock);
    if (task[index] != nullptr)
        services.engine.StopDownloadTask(task[index], false);
}

bool CPackageController::ReopenTaskForRepair(int index)
{
    QAutoLock hold(lock);
    return ReopenTask(index, true);
}

bool CPackageController::QueryTask(int index, TTaskInfo &info)
{
    QAutoLock hold(lock);
    return AskTask(index, info);
}

void CPackageController::WriteStamp(int index)
{
    QAutoLock hold(lock);
    stamps.WriteStamp(index, FinalPath(index));
}

void CPackageController::ShowMessage(const std::string &text)
{
    ShowBox(text);
}

void CPackageController::ReportFileEvent(const std::string &code, const std::string &fileName,
                                         const std::string &text)
{
    services.report.FileEvent(code, fileName, text);
}

void CPackageController::ReportEvent(const std::string &code, const std::string &text)
{
    services.report.Event(code, text, 0);
}

void CPackageController::PostInstallAfterCheck()
{
    services.frontEnd.PostFrontEndMessage(kInstallAfterCheckMessage);
}
