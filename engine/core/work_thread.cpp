#include "engine/core/work_thread.h"

#include <algorithm>
#include <cstring>

#include "engine/base/log_channels.h"
#include "engine/base/quarrowlight_log.h"
#include "engine/net/peer_factory.h"
#include "platform/remove_file.h"

namespace {
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
    // A waiting reader holds on to this object until it sees the stop.
    WaitForReaders();
    Reset(true, true);
    Unregister();
}

void TWorkThread::Refresh()
{
    uint64_t size = live.totalSize;
    CopyPieceCounters(true);
    if (live.totalSize != size)
        Flush(false, false);
}

int32_t TWorkThread::StartDownload()
{
    return Start("StartDownload") ? ENGINE_OK : ENGINE_TASK_FAILED;
}

int32_t TWorkThread::ContinueDownload()
{
    LoadResumeRecord();
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

int32_t TWorkThread::RestartDownload()
{
    EngineLogWrite("Download Restarted..", LOG_CHANNEL_TASK_STATE);
    if (!Stop())
        return ENGINE_TASK_FAILED;
    std::string path = DataFilePath(0);
    if (!path.empty()) {
        platform::RemoveFile(path);
        platform::RemoveFile(path + ".qltmp");
        platform::RemoveFile(path + ".qlinfo");
        platform::RemoveFile(path + ".qlinfodf");
    }
    // The state file is wherever the task was told to keep it, which need
    // not be beside the data; a stale one would vouch for deleted data.
    if (!resumePath.empty()) {
        platform::RemoveFile(resumePath);
        platform::RemoveFile(secondResumePath);
    }
    {
        QAutoLock hold(OwnLock());
        stateValues = TTaskStateValues();
    }
    {
        QAutoLock hold(OwnLock());
        live = TTaskStatus();
        snapshot = TTaskStatus();
    }
    Reset(true, true);
    return ResumeDownload();
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

void TWorkThread::GetDetail(TTaskDetail *detail)
{
    // One hold over both readings (the lock is recursive), so they agree.
    QAutoLock hold(OwnLock());
    std::memset(detail, 0, sizeof *detail);
    GetInfo(&detail->info);
    detail->diskBytes = snapshot.diskBytes;
    detail->fileCount = snapshot.fileCount;
    detail->runSeconds = snapshot.runSeconds;
    detail->dataRestarts = snapshot.dataRestarts;
    std::strncpy(detail->sourceFailure, snapshot.sourceFailure.text.c_str(), sizeof detail->sourceFailure - 1);
    detail->sourceFailureSerial = snapshot.sourceFailure.serial;
    detail->sourcesGivenUp = snapshot.sourceFailure.givenUp;
}

void TWorkThread::GetDataMismatch(TTaskDataMismatch *out)
{
    QAutoLock hold(OwnLock());
    std::memset(out, 0, sizeof *out);
    std::strncpy(out->host, snapshot.badData.host.c_str(), sizeof out->host - 1);
    out->piece = snapshot.badData.piece;
    out->failures = snapshot.badData.failures;
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
    limitsChanged = true;
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

void TWorkThread::OnDataFileEvent(const TPiecesEvent &event)
{
    if (!HasDataFile())
        return;
    switch (event.code) {
    case PIECES_EVENT_PIECE_BIT:
        if (event.size != 4 || event.value < 0 || !PiecesReady())
            return;
        if (!SetHaveBit(event.value, event.argument != 0))
            return;
        CopyPieceCounters(false);
        if (event.argument != 0 && StartupCheckFinished()) {
            uint32_t piece = static_cast<uint32_t>(event.value);
            RemoveFromInProgress(piece);
            if (std::find(newPieces.begin(), newPieces.end(), piece) == newPieces.end())
                newPieces.push_back(piece);
        }
        return;
    case PIECES_EVENT_ALL_BITS:
        if (event.size != 0 || event.value != 0)
            return;
        std::fill(haveMap.begin(), haveMap.end(), event.argument != 0 ? 0xFF : 0x00);
        CopyPieceCounters(true);
        return;
    case PIECES_EVENT_FLUSH:
        if (event.size == 0 && event.value == 0)
            Flush(event.argument != 0, true);
        return;
    case PIECES_EVENT_PIECE_COUNT:
        if (event.size == 4 && event.value > 0)
            haveMap.assign((static_cast<size_t>(event.value) + 7) / 8, 0);
        return;
    case PIECES_EVENT_SELECTION_RECORD:
    case PIECES_EVENT_RESUME_BITS: {
        const bool selection = event.code == PIECES_EVENT_SELECTION_RECORD;
        const auto *bytes = static_cast<const char *>(event.bytes);
        QAutoLock hold(OwnLock());
        std::string &record = selection ? stateValues.part : stateValues.bits;
        if (bytes == nullptr || event.size <= 0)
            record.clear();
        else
            record.assign(bytes, static_cast<size_t>(event.size));
        (selection ? stateValues.partDirty : stateValues.bitsDirty) = true;
        return;
    }
    case PIECES_EVENT_SPACE_AGAIN:
        if (live.state == TASK_STATE_DISK_FULL)
            live.state = TASK_STATE_NONE;
        return;
    case PIECES_EVENT_DISK_FULL:
    case PIECES_EVENT_OPEN_FAILED: {
        live.state = event.code == PIECES_EVENT_DISK_FULL ? TASK_STATE_DISK_FULL : TASK_STATE_FILE_OPEN_FAILED;
        uint32_t id = 0;
        RequestStop(id);
        return;
    }
    default:
        return;
    }
}

TRef<TPeerObject> TWorkThread::CreatePeer(int32_t kind)
{
    return NewPeerObject(this, kind);
}

const uint8_t *TWorkThread::OwnPeerId()
{
    return handshake ? handshake->peerId.data() : nullptr;
}
