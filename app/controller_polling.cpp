#include "app/package_controller.h"

#include "app/package_state.h"
#include "app/package_texts.h"
#include "engine/base/log_channels.h"
#include "engine/base/quarrowlight_log.h"

#include <algorithm>
#include <string>

namespace {

constexpr uint64_t kMiB = 1048576;
constexpr uint32_t kComplete = 10000;
constexpr uint32_t kRecountWaitMs = 50;
constexpr uint32_t kStatsEveryTicks = 300;

bool IsActive(uint32_t state)
{
    return state == PACKAGE_PREPARING || state == PACKAGE_DOWNLOADING || state == PACKAGE_RESUME ||
           state == PACKAGE_RECOVER || state == PACKAGE_RELOAD;
}

// States in which the downloaded total is not worth remembering.
bool KeepsStoredSize(uint32_t state)
{
    switch (state) {
    case PACKAGE_BACK:
    case PACKAGE_READY:
    case PACKAGE_PAUSE:
    case PACKAGE_FAILED:
    case PACKAGE_FINISHED:
    case PACKAGE_MD5_CHECKING:
    case PACKAGE_INSTALLING:
    case 14:
    case PACKAGE_EXITED:
        return true;
    default:
        return false;
    }
}

} // namespace

bool CPackageController::AskTask(int index, TTaskInfo &info)
{
    if (task[index] == nullptr || services.engine.GetTaskInfo(task[index], info) != ENGINE_OK)
        return false;
    lastHttpBytes[index] = info.httpBytes;
    lastPeerBytes[index] = info.peerBytes;
    return true;
}

void CPackageController::ReportWithStats(const std::string &code, const std::string &text)
{
    TStatsReport report;
    report.code = code;
    for (int i = 0; i < kPackageFileCount; ++i) {
        TTaskInfo info{};
        AskTask(i, info);
        report.httpTotalBytes += lastHttpBytes[i];
        report.p2pTotalBytes += lastPeerBytes[i];
    }
    report.totalBytes = report.httpTotalBytes + report.p2pTotalBytes;
    report.totalTime = runSeconds;
    if (runSeconds != 0) {
        report.averageSpeed = report.totalBytes / runSeconds;
        report.httpAverageSpeed = report.httpTotalBytes / runSeconds;
        report.p2pAverageSpeed = report.p2pTotalBytes / runSeconds;
    }
    report.progress = PercentText(progress);
    report.errorMsg = text;
    services.report.EventWithStats(report);
}

void CPackageController::CheckFinished(int index)
{
    // The engine says complete a moment before the data file gets its final
    // name; until then the file is not there to be stamped or installed.
    if (!IsDone(index) && services.files.Exists(FinalPath(index)))
        FileFinished(index);
}

void CPackageController::FileFinished(int index)
{
    param[index].userState = 1;
    stamps.WriteStamp(index, FinalPath(index));
    ReapplySpeedLimit();
    services.report.FileEvent("11080000", manifest.name[index], "");
}

void CPackageController::HandleEngineCode(int32_t code)
{
    if (code == TASK_STATE_NONE || code == lastHandledCode)
        return;
    lastHandledCode = code;
    switch (code) {
    case TASK_STATE_SIZE_TIMEOUT:
        ReportWithStats("11990202", "");
        ShowBox("网络连接超时，下载失败");
        break;
    case TASK_STATE_DISK_FULL:
        if (state == PACKAGE_DOWNLOADING) {
            StopAllTasks();
            state = PACKAGE_PAUSE;
        }
        spaceShort = true;
        ReportWithStats("11990301", "");
        ShowBox("磁盘空间不足，请检查并重新启动下载器！");
        break;
    case TASK_STATE_NO_SOURCE:
        ShowBox("下载出错，请重试");
        break;
    case TASK_STATE_FILE_OPEN_FAILED:
        state = PACKAGE_FAILED;
        ShowBox("由于磁盘损坏无法写入，下载失败");
        break;
    default:
        break;
    }
}

void CPackageController::UpdateProgress()
{
    uint64_t sum = 0;
    uint64_t weight = 0;
    for (int i = 0; i < kPackageFileCount; ++i) {
        if (IsDone(i)) {
            const uint64_t w = manifest.size[i] / kMiB;
            sum += w * kComplete;
            weight += w;
            continue;
        }
        TTaskInfo info{};
        if (!AskTask(i, info))
            continue;
        int32_t complete = 0;
        if (services.engine.IsTaskComplete(task[i], complete) == ENGINE_OK && complete != 0)
            CheckFinished(i);
        if (info.state != lastTaskCode[i]) {
            lastTaskCode[i] = info.state;
            HandleEngineCode(info.state);
        }
        const uint64_t w = info.totalKB / 1024;
        if (IsDone(i) || info.progress >= kComplete)
            sum += w * kComplete;
        else
            sum += w * info.progress;
        weight += w;
    }
    const uint64_t value = weight != 0 ? sum / weight : sum;
    progress = static_cast<uint32_t>(std::min<uint64_t>(value, kComplete));
}

uint64_t CPackageController::CountDownloaded()
{
    uint64_t sum = 0;
    for (int i = 0; i < kPackageFileCount; ++i) {
        TTaskInfo info{};
        if (AskTask(i, info)) {
            sum += info.doneBytes;
            continue;
        }
        // The engine tells the space the file occupies, rounded up to whole
        // blocks; no file holds more downloaded bytes than its size.
        const int64_t onDisk = services.engine.GetFileDiskSize(FinalPath(i));
        if (onDisk >= 0)
            sum += std::min(static_cast<uint64_t>(onDisk), manifest.size[i]);
    }
    return sum;
}

void CPackageController::TestRunningSpace()
{
    const uint64_t freeBytes = services.engine.GetDiskFreeBytes(saveFolder);
    if (freeBytes + downloaded >= manifest.SpaceRequirement()) {
        spaceShort = false;
        if (state == PACKAGE_BACK)
            state = PACKAGE_READY;
        return;
    }
    // A file being renamed or extended may count short for a moment.
    services.clock.SleepMs(kRecountWaitMs);
    downloaded = CountDownloaded();
    if (freeBytes + downloaded >= manifest.PackageSize())
        return;
    switch (state) {
    case PACKAGE_READY:
        state = PACKAGE_BACK;
        ShowBox("当前磁盘空间不足，请选择其他位置存放。");
        spaceShort = true;
        break;
    case PACKAGE_BACK:
    case PACKAGE_PAUSE:
        spaceShort = true;
        break;
    case PACKAGE_DOWNLOADING:
        StopAllTasks();
        state = PACKAGE_PAUSE;
        ReportWithStats("11990301", "");
        ShowBox("预留磁盘空间不足，下载暂停。");
        spaceShort = true;
        break;
    default:
        break;
    }
}

void CPackageController::NoteStateChange()
{
    const uint32_t now = state;
    const bool shortNow = spaceShort;
    if (now == seenState && shortNow == seenShort)
        return;
    const bool entersFinished = now == PACKAGE_FINISHED && seenState != PACKAGE_FINISHED;
    seenState = now;
    seenShort = shortNow;
    if (const char *name = PackageStateLogName(now))
        EngineLogWrite((std::string("Quarrowlight Utility: 下载状态改变为") + name).c_str(), LOG_CHANNEL_CONTROLLER);
    if (!entersFinished)
        return;
    for (int i = 0; i < kPackageFileCount; ++i)
        stamps.WriteStamp(i, FinalPath(i));
    if (anyTaskStarted)
        ReportWithStats("11060000", "");
    ReapplySpeedLimit();
    if (shutdownWhenDone) {
        EngineLogWrite("Quarrowlight Utility: 触发自动关机", LOG_CHANNEL_CONTROLLER);
        ShutdownSoon();
    }
}

bool CPackageController::DownloadHasStopped()
{
    QAutoLock hold(lock);
    int stopped = 0;
    for (int i = 0; i < kPackageFileCount; ++i) {
        if (IsDone(i))
            continue;
        int32_t running = 0;
        int32_t complete = 0;
        if (task[i] == nullptr || services.engine.IsTaskRunning(task[i], running) != ENGINE_OK ||
            services.engine.IsTaskComplete(task[i], complete) != ENGINE_OK || running != 0 || complete != 0)
            return false;
        ++stopped;
    }
    return stopped > 0;
}

uint32_t CPackageController::PollState()
{
    QAutoLock hold(lock);
    if (exited)
        return state;
    UpdateProgress();
    const uint64_t bytes = CountDownloaded();
    downloaded = bytes;
    if (bytes != lastCountedBytes) {
        lastCountedBytes = bytes;
        if (!KeepsStoredSize(state))
            ini.NoteDownloadedBytes(bytes);
    }
    if (runningSpaceTest)
        TestRunningSpace();
    if (state == PACKAGE_PREPARING && progress != 0)
        state = PACKAGE_RELOAD;
    NoteStateChange();
    return state;
}

void CPackageController::Tick()
{
    QAutoLock hold(lock);
    const uint32_t now = state;
    if (exited || now == PACKAGE_FINISHED || now == PACKAGE_CHECK_FINISHED)
        return;
    ini.FlushDownloadedBytes();
    if (now == PACKAGE_BACK || now == PACKAGE_READY || now == PACKAGE_FAILED || now == PACKAGE_EXITED) {
        activeTicks = 0;
        return;
    }
    if (IsActive(now)) {
        if (++activeTicks % kStatsEveryTicks == 0)
            ReportWithStats("11050000", "");
        ini.CountDownloadSecond(totalSeconds);
        ++runSeconds;
    } else {
        activeTicks = 0;
    }
    for (int i = 0; i < kPackageFileCount; ++i) {
        TTaskInfo info{};
        int32_t complete = 0;
        if (AskTask(i, info) && services.engine.IsTaskComplete(task[i], complete) == ENGINE_OK && complete != 0)
            CheckFinished(i);
    }
    if (now == PACKAGE_MD5_CHECKING || now == PACKAGE_CHECK_RECOVER)
        return;
    for (int i = 0; i < kPackageFileCount; ++i) {
        if (!IsDone(i))
            return;
    }
    if (UnfinishedCount() == 0) {
        state = PACKAGE_FINISHED;
        ini.WriteComplete();
    }
}
