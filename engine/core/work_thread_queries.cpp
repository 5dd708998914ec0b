// The task's queries of its published status, data file and notes. They run
// on the interface's thread and read only what the worker published under
// the task's own lock.
#include <algorithm>
#include <cstring>

#include "engine/core/work_thread.h"
#include "engine/core/engine_state.h"
#include "engine/core/udp_server_slot.h"

namespace {
// The note list stays a small text: a front-end cannot grow it without bound.
constexpr size_t kMaxNoteBytes = 1 << 20;
constexpr char kNoteBreak[] = "\r\n";
} // namespace

bool TWorkThread::WantsUdp() const
{
    return !outsideReachable.load() && UdpPublicAddress() != 0xFFFFFFFFu;
}

void TWorkThread::GetTorrentInfo(TTaskTorrentInfo *info)
{
    QAutoLock hold(OwnLock());
    std::memset(info, 0, sizeof *info);
    info->totalSize = publishedDataFile.totalSize;
    info->pieceCount = publishedDataFile.pieceCount;
    info->pieceLength = publishedDataFile.pieceLength;
    std::strncpy(info->infoHash, publishedDataFile.infoHashHex.c_str(), sizeof info->infoHash - 1);
    std::strncpy(info->name, publishedDataFile.name.c_str(), sizeof info->name - 1);
}

int32_t TWorkThread::GetSecondsLeft(int32_t *seconds)
{
    QAutoLock hold(OwnLock());
    *seconds = snapshot.secondsLeft;
    return ENGINE_OK;
}

int32_t TWorkThread::GetSpeed(int32_t *bytesPerSecond)
{
    QAutoLock hold(OwnLock());
    *bytesPerSecond = snapshot.speed;
    return ENGINE_OK;
}

int32_t TWorkThread::GetSnapshotValue(int32_t counter, int64_t *value)
{
    QAutoLock hold(OwnLock());
    switch (counter) {
    case TASK_COUNTER_TOTAL_BYTES:
        *value = static_cast<int64_t>(snapshot.totalSize);
        return ENGINE_OK;
    case TASK_COUNTER_DONE_BYTES:
        *value = static_cast<int64_t>(snapshot.doneBytes);
        return ENGINE_OK;
    case TASK_COUNTER_HTTP_BYTES:
        *value = static_cast<int64_t>(snapshot.httpBytes);
        return ENGINE_OK;
    case TASK_COUNTER_PEER_BYTES:
        *value = static_cast<int64_t>(snapshot.peerBytes);
        return ENGINE_OK;
    case TASK_COUNTER_PIECE_COUNT:
        *value = snapshot.pieceCount;
        return ENGINE_OK;
    case TASK_COUNTER_PIECES_DONE:
        *value = snapshot.piecesDone;
        return ENGINE_OK;
    case TASK_COUNTER_DISK_BYTES:
        *value = snapshot.diskBytes;
        return ENGINE_OK;
    default:
        return ENGINE_INVALID_ARGUMENT;
    }
}

int32_t TWorkThread::FileCount()
{
    QAutoLock hold(OwnLock());
    return static_cast<int32_t>(publishedDataFile.files.size());
}

int64_t TWorkThread::FileSize(int32_t file)
{
    QAutoLock hold(OwnLock());
    if (file < 0 || static_cast<size_t>(file) >= publishedDataFile.files.size())
        return -1;
    return publishedDataFile.files[static_cast<size_t>(file)].length;
}

int32_t TWorkThread::GetFileInfo(int32_t file, TTaskFileInfo *info)
{
    QAutoLock hold(OwnLock());
    if (file < 0 || static_cast<size_t>(file) >= publishedDataFile.files.size())
        return ENGINE_INVALID_ARGUMENT;
    const TPublishedFile &entry = publishedDataFile.files[static_cast<size_t>(file)];
    std::memset(info, 0, sizeof *info);
    std::strncpy(info->path, entry.path.c_str(), sizeof info->path - 1);
    info->size = entry.length;
    info->offset = entry.offset;
    return ENGINE_OK;
}

int32_t TWorkThread::AppendNote(const char *line)
{
    // One note is one line: a break inside would split it.
    if (line == nullptr || std::strpbrk(line, kNoteBreak) != nullptr)
        return ENGINE_INVALID_ARGUMENT;
    QAutoLock hold(OwnLock());
    size_t length = std::strlen(line);
    if (notes.size() + length + 2 > kMaxNoteBytes)
        return ENGINE_INVALID_ARGUMENT;
    notes += line;
    notes += kNoteBreak;
    return ENGINE_OK;
}

int32_t TWorkThread::GetNotes(char *buffer, int32_t len)
{
    QAutoLock hold(OwnLock());
    if (buffer != nullptr && len > 0) {
        size_t copied = std::min(notes.size(), static_cast<size_t>(len - 1));
        std::memcpy(buffer, notes.data(), copied);
        buffer[copied] = '\0';
    }
    return static_cast<int32_t>(notes.size());
}
