#include "app/package_controller.h"

#include "app/package_state.h"
#include "app/package_texts.h"

#include <algorithm>

namespace {

constexpr int32_t kDownloadLimitKind = 1;
constexpr int32_t kMinTaskLimitKBps = 10;
constexpr uint32_t kFlowingSpeed = 1024;

} // namespace

int CPackageController::UnfinishedCount()
{
    int count = 0;
    for (int i = 0; i < kPackageFileCount; ++i) {
        TTaskInfo info{};
        if (AskTask(i, info) && !IsDone(i))
            ++count;
    }
    return count;
}

void CPackageController::ApplySpeedLimit(int32_t kbps)
{
    QAutoLock hold(lock);
    ApplySpeedLimitLocked(kbps);
}

int32_t CPackageController::LimitShare(int tasks) const
{
    if (speedLimitKBps == kNoLimit)
        return 0; // the engine's "no limit"
    return std::max(tasks > 1 ? speedLimitKBps / tasks : speedLimitKBps, kMinTaskLimitKBps);
}

int32_t CPackageController::NewTaskLimitShare() const
{
    int unfinished = 0;
    for (int i = 0; i < kPackageFileCount; ++i)
        unfinished += IsDone(i) ? 0 : 1;
    return LimitShare(unfinished);
}

void CPackageController::ApplySpeedLimitLocked(int32_t kbps)
{
    speedLimitKBps = kbps > 0 && kbps < kNoLimit ? kbps : kNoLimit;
    const int32_t share = LimitShare(UnfinishedCount());
    for (TTaskHandle handle : task) {
        if (handle != nullptr)
            services.engine.SetTaskSpeedLimit(handle, kDownloadLimitKind, share);
    }
}

void CPackageController::ReapplySpeedLimit()
{
    ApplySpeedLimitLocked(speedLimitKBps == kNoLimit ? 0 : speedLimitKBps);
}

void CPackageController::SpreadConnectionBudgets()
{
    const int n = UnfinishedCount();
    if (n == 0 || (httpConnections == spreadHttp && n == spreadCount))
        return;
    spreadHttp = httpConnections;
    spreadCount = n;
    const uint32_t servers = httpConnections / n, serversLeft = httpConnections % n;
    const uint32_t peers = peerConnections / n, peersLeft = peerConnections % n;
    uint32_t given = 0;
    for (int i = 0; i < kPackageFileCount; ++i) {
        TTaskInfo info{};
        if (IsDone(i) || !AskTask(i, info))
            continue;
        const uint32_t maxServers = std::max<uint32_t>(servers + (given < serversLeft ? 1 : 0), 1);
        const uint32_t maxPeers = std::max<uint32_t>(peers + (given < peersLeft ? 1 : 0), 1);
        services.engine.SetTaskPeerLimits(task[i], static_cast<int32_t>(maxServers), static_cast<int32_t>(maxPeers));
        ++given;
    }
}

std::string CPackageController::GetSpeedText()
{
    QAutoLock hold(lock);
    services.engine.EnableListen(p2pEnabled);
    if (exited)
        return "0 B/s";
    const uint32_t now = state;
    if (now == PACKAGE_CHECK_RECOVER) {
        ScheduleResourceList();
        return std::string();
    }
    const bool flowingState = now == PACKAGE_PREPARING || now == PACKAGE_DOWNLOADING || now == PACKAGE_RESUME ||
                              now == PACKAGE_RECOVER || now == PACKAGE_RELOAD;
    if (!flowingState) {
        speedRefreshes = 0;
        return "0 B/s";
    }
    uint64_t sum = 0;
    for (int i = 0; i < kPackageFileCount; ++i) {
        TTaskInfo info{};
        if (AskTask(i, info) && !IsDone(i) && info.speed > 0)
            sum += static_cast<uint64_t>(info.speed);
    }
    totalSpeed = static_cast<uint32_t>(std::min<uint64_t>(sum, UINT32_MAX));
    if (totalSpeed > kFlowingSpeed) {
        state = PACKAGE_DOWNLOADING;
        SpreadConnectionBudgets();
    }
    if (state == PACKAGE_DOWNLOADING)
        ScheduleResourceList();
    else
        speedRefreshes = 0;
    // Under a limit the engine's one-second figures overshoot now and then;
    // the shown speed approaches the limit instead of jumping past it.
    const bool limited = speedLimitKBps > 0 && speedLimitKBps < kNoLimit;
    const uint64_t cap = static_cast<uint64_t>(speedLimitKBps) * 1024;
    uint64_t shown = shownSpeed;
    if (limited && totalSpeed > cap)
        shown = shown < cap ? (totalSpeed + shown) / 2 : (cap + shown) / 2;
    else
        shown = totalSpeed;
    shownSpeed = static_cast<uint32_t>(shown);
    return SpeedText(shown);
}
