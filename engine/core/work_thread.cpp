#include "engine/core/work_thread.h"

#include <algorithm>
#include <cstring>

#include "platform/tick.h"

namespace {
constexpr uint32_t kIdleLoopMs = 5;

uint32_t ProgressOf(const TTaskStatus &status)
{
    if (status.totalSize == 0)
        return 0;
    return static_cast<uint32_t>(status.doneBytes * 10000 / status.totalSize);
}
} // namespace

TWorkThread::TWorkThread() = default;

TWorkThread::~TWorkThread()
{
    Stop();
    Reset(true, true);
    Unregister();
}

void TWorkThread::Run()
{
    while (!CheckStop())
        platform::SleepMs(kIdleLoopMs);
}

void TWorkThread::Refresh() {}

int32_t TWorkThread::StartDownload()
{
    return Start("StartDownload") ? ENGINE_OK : ENGINE_TASK_FAILED;
}

int32_t TWorkThread::ContinueDownload()
{
    return Start("ContinueDownload") ? ENGINE_OK : ENGINE_TASK_FAILED;
}

int32_t TWorkThread::ResumeDownload()
{
    return StartDownload();
}

int32_t TWorkThread::StopDownload()
{
    return Stop() ? ENGINE_OK : ENGINE_TASK_FAILED;
}

int32_t TWorkThread::PauseDownload()
{
    return SetPause(true) ? ENGINE_OK : ENGINE_TASK_FAILED;
}

void TWorkThread::GetInfo(TTaskInfo *info)
{
    QAutoLock hold(OwnLock());
    std::memset(info, 0, sizeof *info);
    std::strncpy(info->fileName, snapshot.fileName.c_str(), sizeof info->fileName - 1);
    info->doneBytes = snapshot.doneBytes;
    info->totalKB = static_cast<uint32_t>(snapshot.totalSize / 1024);
    info->httpBytes = snapshot.httpBytes;
    info->peerBytes = snapshot.peerBytes;
    info->speed = snapshot.speed;
    info->secondsLeft = snapshot.secondsLeft;
    info->progress = ProgressOf(snapshot);
    info->state = info->progress >= 10000 ? TASK_STATE_COMPLETE : snapshot.state;
}

bool TWorkThread::IsComplete()
{
    QAutoLock hold(OwnLock());
    return ProgressOf(snapshot) > 9999;
}

int32_t TWorkThread::SetSpeedLimit(int32_t kind, int32_t value)
{
    QAutoLock hold(OwnLock());
    if (kind == 1)
        settings.speedLimit1 = value;
    else if (kind == 0)
        settings.speedLimit0 = value;
    else
        return ENGINE_INVALID_ARGUMENT;
    settings.Validate();
    return ENGINE_OK;
}

int32_t TWorkThread::SetPeerLimits(int32_t servers, int32_t peers)
{
    QAutoLock hold(OwnLock());
    SetPeerLimitsLocked(servers, peers);
    return ENGINE_OK;
}

int32_t TWorkThread::GetPieceMap(void *buf, int32_t len)
{
    QAutoLock hold(OwnLock());
    return CopyPublishedHaveMap(buf, len);
}

int32_t TWorkThread::GetPieceMapSize()
{
    QAutoLock hold(OwnLock());
    return PublishedHaveMapSize();
}

int32_t TWorkThread::AddMirrors(const char *urls, const char *hosts)
{
    QAutoLock hold(OwnLock());
    AddMirrorsLocked(urls, hosts);
    return ENGINE_OK;
}

int32_t TWorkThread::ClearMirrors()
{
    QAutoLock hold(OwnLock());
    ClearMirrorsLocked();
    return ENGINE_OK;
}

void TWorkThread::Flush(bool rebuild, bool wait)
{
    QTMutex &lock = OwnLock();
    bool locked = wait ? lock.Lock() : lock.TryLock();
    if (!locked)
        return;
    if (rebuild && (haveMapToPublish || wait)) {
        publishedHaveMap = haveMap;
        publishedPieceCount = live.pieceCount;
        haveMapToPublish = false;
    }
    snapshot = live;
    lock.Unlock();
}
