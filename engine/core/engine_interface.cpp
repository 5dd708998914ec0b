#include "engine/core/engine_interface.h"

#include <atomic>
#include <new>
#include <vector>

#include "engine/base/engine_clock.h"
#include "engine/base/engine_locks.h"
#include "engine/base/log_channels.h"
#include "engine/base/quarrowlight_log.h"
#include "engine/core/engine_startup.h"
#include "engine/core/engine_state.h"
#include "engine/core/message_sink.h"
#include "engine/core/task_registry.h"
#include "engine/core/udp_server_slot.h"
#include "engine/core/work_thread.h"
#include "engine/net/listen_settings.h"
#include "platform/file_query.h"
#include "platform/tick.h"

namespace {
constexpr uint32_t kStopPollMs = 50;

bool initialised = false;

TWorkThread *FindTask(TTaskHandle handle)
{
    return static_cast<TWorkThread *>(RegistryFind(handle));
}

// Runs op on the live task the handle names, under the engine lock; unknown
// handles and escaping exceptions become status codes.
template <typename Op> int32_t WithTask(TTaskHandle handle, Op op, int32_t unknown = ENGINE_UNKNOWN_TASK,
                                        int32_t failed = ENGINE_TASK_FAILED)
{
    QAutoLock hold(EngineLock());
    TWorkThread *task = FindTask(handle);
    if (task == nullptr)
        return unknown;
    try {
        return op(*task);
    } catch (...) {
        return failed;
    }
}

bool CountsAsDuplicateBySources(const TWorkThread &task, const TWorkThread &other)
{
    size_t n = task.sources.size();
    size_t j = 0;
    for (const auto &entry : task.sources) {
        // Blank lines are not sources; two lists sharing one prove nothing.
        if (entry.text.empty())
            continue;
        for (const auto &known : other.sources) {
            if (known.text == entry.text) {
                ++j;
                break;
            }
        }
    }
    return j > 0 && n / j <= 2;
}

bool IsDuplicateOf(const TWorkThread &task, const TWorkThread &other)
{
    if (task.hasFilePath && other.hasFilePath)
        return task.targetFile == other.targetFile;
    if (!task.IsHttpTask() && !other.IsHttpTask())
        return task.mainSource == other.mainSource;
    return CountsAsDuplicateBySources(task, other);
}

bool HasDuplicate(const TWorkThread &task)
{
    for (TBaseWork *base : RegistryTasks()) {
        auto *other = static_cast<TWorkThread *>(base);
        if (other != &task && IsDuplicateOf(task, *other))
            return true;
    }
    return false;
}

void DescribeTask(TWorkThread &task, const TTaskParam &param)
{
    task.sources = SplitSourceList(param.sourceList);
    task.resumePath = param.resumePath;
    task.secondResumePath = task.resumePath + "df";
    task.folder = param.targetPath;
    task.isP2sp = (param.flags & TASK_FLAG_P2SP) != 0;
    task.isBt = (param.flags & TASK_FLAG_BT) != 0;
    task.hasFilePath = (param.flags & TASK_FLAG_FILE_PATH) != 0;
    task.settings.storeMode = (param.flags & TASK_FLAG_STORE_MODE) != 0 ? 1 : 0;
    task.settings.speedLimit1 = param.downloadLimitKBps;
    task.settings.speedLimit0 = param.uploadLimitKBps;
    task.settings.Validate();
    if (task.isP2sp) {
        task.mainSource = param.p2spUrl;
    } else if (task.isBt && !task.sources.empty()) {
        task.mainSource = task.sources.front().text;
        task.sources.front().mark = 1;
    }
    if (task.hasFilePath) {
        task.targetFile = param.targetPath;
        size_t cut = task.folder.find_last_of('/');
        if (cut != std::string::npos)
            task.folder.erase(cut + 1);
    }
}

// Creates, describes and registers a task; the caller then starts it.
int32_t CreateTask(TTaskParam *param, bool skipDuplicateTest, const char *verb, TWorkThread *&created)
{
    TWorkThread *task = new (std::nothrow) TWorkThread;
    if (task == nullptr)
        return ENGINE_OUT_OF_MEMORY;
    try {
        DescribeTask(*task, *param);
    } catch (const std::bad_alloc &) {
        delete task;
        return ENGINE_OUT_OF_MEMORY;
    }
    if (!skipDuplicateTest && HasDuplicate(*task)) {
        delete task;
        return ENGINE_DUPLICATE_TASK;
    }
    param->hTask = task->Handle();
    EngineLogFormat(LOG_CHANNEL_DOWNLOAD, "%s %s, Download, ID : %lu] [Target File : (%s) ", verb, task->KindText(),
                    static_cast<unsigned long>(reinterpret_cast<uintptr_t>(task->Handle())), task->targetFile.c_str());
    created = task;
    return ENGINE_OK;
}
} // namespace

int32_t InitEngine()
{
    QAutoLock hold(EngineLock());
    // Sockets need no library start-up on this platform.
    initialised = true;
    return ENGINE_OK;
}

int32_t UninitEngine()
{
    QAutoLock hold(EngineLock());
    try {
        // Tasks exist without InitEngine, so they are destroyed either way.
        for (TBaseWork *task : RegistryTasks())
            delete static_cast<TWorkThread *>(task);
        DestroyUdpServer();
        StopTimeThread();
    } catch (...) {
        initialised = false;
        return ENGINE_TASK_FAILED;
    }
    initialised = false;
    return ENGINE_OK;
}

namespace {
// Creates the task, then starts its worker the way the caller asks.
int32_t CreateAndStart(TTaskParam *param, bool skipDuplicateTest, const char *verb,
                       int32_t (TWorkThread::*start)())
{
    if (param == nullptr)
        return ENGINE_INVALID_ARGUMENT;
    QAutoLock hold(EngineLock());
    TWorkThread *task = nullptr;
    int32_t status = CreateTask(param, skipDuplicateTest, verb, task);
    if (status != ENGINE_OK)
        return status;
    try {
        return (task->*start)();
    } catch (...) {
        return ENGINE_TASK_FAILED;
    }
}
} // namespace

int32_t CreateDownloadTask(TTaskParam *param)
{
    return CreateAndStart(param, false, "Create", &TWorkThread::StartDownload);
}

int32_t RecoverDownloadTask(TTaskParam *param, bool force)
{
    return CreateAndStart(param, force, "Recover", &TWorkThread::ContinueDownload);
}

int32_t StopDownloadTask(TTaskHandle handle, bool reset)
{
    return WithTask(handle, [reset](TWorkThread &task) {
        int32_t status = task.StopDownload();
        if (status != ENGINE_OK)
            return status;
        task.ReleaseSourceMarks();
        if (reset)
            task.Reset(false, false);
        return ENGINE_OK;
    });
}

int32_t StopDownloadTasks(const TTaskHandle *handles, int32_t count, bool reset, int32_t *results)
{
    if (handles == nullptr || count <= 0)
        return ENGINE_OK;
    QAutoLock hold(EngineLock());
    std::vector<int32_t> scratch;
    if (results == nullptr) {
        scratch.resize(static_cast<size_t>(count));
        results = scratch.data();
    }
    std::vector<TWorkThread *> tasks(static_cast<size_t>(count), nullptr);
    std::vector<uint32_t> ids(static_cast<size_t>(count), 0);
    for (int32_t i = 0; i < count; ++i) {
        tasks[i] = FindTask(handles[i]);
        results[i] = tasks[i] != nullptr ? ENGINE_OK : ENGINE_UNKNOWN_TASK;
    }
    // Raise every stop request first so the workers wind down together.
    for (int32_t i = 0; i < count; ++i) {
        if (tasks[i] != nullptr)
            tasks[i]->RequestStop(ids[i]);
    }
    for (;;) {
        bool finished = true;
        for (int32_t i = 0; i < count; ++i) {
            if (results[i] != ENGINE_OK || ids[i] == 0)
                continue;
            try {
                if (!tasks[i]->HasEnded(ids[i])) {
                    finished = false;
                    continue;
                }
                tasks[i]->ReleaseSourceMarks();
                if (reset)
                    tasks[i]->Reset(false, false);
                ids[i] = 0;
            } catch (...) {
                results[i] = ENGINE_TASK_FAILED;
            }
        }
        if (finished)
            break;
        platform::SleepMs(kStopPollMs);
    }
    return ENGINE_OK;
}

int32_t ResumeDownloadTask(TTaskHandle handle)
{
    return WithTask(handle, [](TWorkThread &task) { return task.ResumeDownload(); });
}

int32_t GetTaskInfo(TTaskHandle handle, TTaskInfo *info)
{
    if (info == nullptr)
        return ENGINE_INVALID_ARGUMENT;
    return WithTask(handle, [info](TWorkThread &task) {
        task.GetInfo(info);
        return ENGINE_OK;
    });
}

int32_t GetTaskDetail(TTaskHandle handle, TTaskDetail *detail)
{
    if (detail == nullptr)
        return ENGINE_INVALID_ARGUMENT;
    return WithTask(handle, [detail](TWorkThread &task) {
        task.GetDetail(detail);
        return ENGINE_OK;
    });
}

int32_t GetTaskDataMismatch(TTaskHandle handle, TTaskDataMismatch *out)
{
    if (out == nullptr)
        return ENGINE_INVALID_ARGUMENT;
    return WithTask(handle, [out](TWorkThread &task) {
        task.GetDataMismatch(out);
        return ENGINE_OK;
    });
}

int32_t IsTaskComplete(TTaskHandle handle, int32_t *out)
{
    if (out == nullptr)
        return ENGINE_INVALID_ARGUMENT;
    return WithTask(handle, [out](TWorkThread &task) {
        *out = task.IsComplete() ? 1 : 0;
        return ENGINE_OK;
    });
}

int32_t IsTaskRunning(TTaskHandle handle, int32_t *out)
{
    if (out == nullptr)
        return ENGINE_INVALID_ARGUMENT;
    return WithTask(handle, [out](TWorkThread &task) {
        *out = task.IsRunning() ? 1 : 0;
        return ENGINE_OK;
    });
}

int32_t SetTaskSpeedLimit(TTaskHandle handle, int32_t kind, int32_t value)
{
    return WithTask(handle, [kind, value](TWorkThread &task) { return task.SetSpeedLimit(kind, value); });
}

int32_t SetTaskPeerLimits(TTaskHandle handle, int32_t maxServers, int32_t maxPeers)
{
    return WithTask(handle, [=](TWorkThread &task) { return task.SetPeerLimits(maxServers, maxPeers); });
}

int32_t GetTaskPieceMap(TTaskHandle handle, void *buf, int32_t len)
{
    if (buf == nullptr || len <= 0)
        return 0;
    return WithTask(handle, [=](TWorkThread &task) { return task.GetPieceMap(buf, len); }, -1, -1);
}

int32_t GetTaskPieceMapSize(TTaskHandle handle)
{
    return WithTask(handle, [](TWorkThread &task) { return task.GetPieceMapSize(); }, -1, -1);
}

int32_t AddTaskMirror(TTaskHandle handle, const char *mirrorUrls, const char *hostNames)
{
    return WithTask(handle, [=](TWorkThread &task) { return task.AddMirrors(mirrorUrls, hostNames); });
}

int32_t ClearTaskMirrors(TTaskHandle handle)
{
    return WithTask(handle, [](TWorkThread &task) { return task.ClearMirrors(); });
}

void EnableHttpWrap(int32_t on)
{
    SetHttpWrap(on != 0);
}

int32_t SetListenPort(int32_t port)
{
    SetEngineListenPort(port);
    return ENGINE_OK;
}

int32_t EnableListen(bool on)
{
    SetListenEnabled(on);
    return ENGINE_OK;
}

int32_t EnableLanDiscovery(bool on)
{
    SetLanDiscoveryChoice(on);
    return ENGINE_OK;
}

uint64_t GetDiskFreeBytes(const char *path)
{
    return path != nullptr ? platform::FreeBytesOfPath(path) : 0;
}

int64_t GetFileDiskSize(const char *path)
{
    if (path == nullptr)
        return -1;
    platform::DiskUsage usage = platform::FileBytesOnDisk(path);
    if (usage.status == platform::DiskUsage::Status::NotFound)
        usage = platform::FileBytesOnDisk(std::string(path) + ".qltmp");
    switch (usage.status) {
    case platform::DiskUsage::Status::Ok:
        return usage.bytes;
    case platform::DiskUsage::Status::NotFound:
        return 0;
    case platform::DiskUsage::Status::OpenFailed:
        return -1;
    case platform::DiskUsage::Status::QueryFailed:
        break;
    }
    return -2;
}

int32_t ShowMessageAsync(void *window, const char *text, const char *caption, uint32_t type)
{
    return ShowMessageOnHelper(window, text, caption, type) ? 1 : 0;
}

int32_t ReadTaskData(TTaskHandle handle, int64_t offset, void *buffer, int32_t length)
{
    if (buffer == nullptr || offset < 0 || length < 0)
        return ENGINE_INVALID_ARGUMENT;
    TDataRead read;
    read.offset = offset;
    read.buffer = static_cast<uint8_t *>(buffer);
    read.length = length;
    TWorkThread *reader = nullptr;
    int32_t status = WithTask(handle, [&](TWorkThread &task) {
        if (length == 0)
            return ENGINE_OK;
        task.BeginRead(read);
        reader = &task;
        return ENGINE_OK;
    });
    if (status != ENGINE_OK || reader == nullptr)
        return status;
    // The registered read keeps the task alive; waiting under the engine
    // lock would stall every other call, the stop that ends the wait too.
    return reader->ReadData(read);
}

int32_t GetTaskTorrentInfo(TTaskHandle handle, TTaskTorrentInfo *info)
{
    if (info == nullptr)
        return ENGINE_INVALID_ARGUMENT;
    return WithTask(handle, [info](TWorkThread &task) {
        task.GetTorrentInfo(info);
        return ENGINE_OK;
    });
}

int32_t GetTaskSpeed(TTaskHandle handle, int32_t *bytesPerSecond)
{
    if (bytesPerSecond == nullptr)
        return ENGINE_INVALID_ARGUMENT;
    return WithTask(handle, [bytesPerSecond](TWorkThread &task) { return task.GetSpeed(bytesPerSecond); });
}

int32_t GetTaskSecondsLeft(TTaskHandle handle, int32_t *seconds)
{
    if (seconds == nullptr)
        return ENGINE_INVALID_ARGUMENT;
    return WithTask(handle, [seconds](TWorkThread &task) { return task.GetSecondsLeft(seconds); });
}

int32_t GetTaskCounter(TTaskHandle handle, int32_t counter, int64_t *value)
{
    if (value == nullptr)
        return ENGINE_INVALID_ARGUMENT;
    return WithTask(handle, [=](TWorkThread &task) { return task.GetSnapshotValue(counter, value); });
}

int32_t AppendTaskNote(TTaskHandle handle, const char *line)
{
    return WithTask(handle, [line](TWorkThread &task) { return task.AppendNote(line); });
}

int32_t GetTaskNotes(TTaskHandle handle, char *buffer, int32_t len)
{
    return WithTask(handle, [=](TWorkThread &task) { return task.GetNotes(buffer, len); });
}

int32_t GetTaskFileCount(TTaskHandle handle, int32_t *count)
{
    if (count == nullptr)
        return ENGINE_INVALID_ARGUMENT;
    return WithTask(handle, [count](TWorkThread &task) {
        *count = task.FileCount();
        return ENGINE_OK;
    });
}

int32_t GetTaskFileSize(TTaskHandle handle, int32_t file, int64_t *size)
{
    if (size == nullptr)
        return ENGINE_INVALID_ARGUMENT;
    return WithTask(handle, [=](TWorkThread &task) {
        int64_t length = task.FileSize(file);
        if (length < 0)
            return ENGINE_INVALID_ARGUMENT;
        *size = length;
        return ENGINE_OK;
    });
}

int32_t GetTaskFileInfo(TTaskHandle handle, int32_t file, TTaskFileInfo *info)
{
    if (info == nullptr)
        return ENGINE_INVALID_ARGUMENT;
    return WithTask(handle, [=](TWorkThread &task) { return task.GetFileInfo(file, info); });
}
