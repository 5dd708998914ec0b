#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "engine/core/engine_interface.h"

// The engine operations the controller uses, so the controller's decisions
// can be followed against a recording engine. Each returns what the flat
// engine function of the same meaning returns.
class IPackageEngine {
public:
    virtual ~IPackageEngine() = default;

    virtual int32_t InitEngine() = 0;
    virtual int32_t UninitEngine() = 0;
    virtual int32_t CreateDownloadTask(TTaskParam &param) = 0;
    virtual int32_t RecoverDownloadTask(TTaskParam &param, bool force) = 0;
    virtual int32_t StopDownloadTask(TTaskHandle handle, bool reset) = 0;
    virtual int32_t StopDownloadTasks(const std::vector<TTaskHandle> &handles, bool reset) = 0;
    virtual int32_t ResumeDownloadTask(TTaskHandle handle) = 0;
    virtual int32_t GetTaskInfo(TTaskHandle handle, TTaskInfo &info) = 0;
    virtual int32_t IsTaskComplete(TTaskHandle handle, int32_t &complete) = 0;
    virtual int32_t IsTaskRunning(TTaskHandle handle, int32_t &running) = 0;
    virtual int32_t SetTaskSpeedLimit(TTaskHandle handle, int32_t kind, int32_t value) = 0;
    virtual int32_t SetTaskPeerLimits(TTaskHandle handle, int32_t maxServers, int32_t maxPeers) = 0;
    // One HTTP mirror of the task's file, with the host name it is asked
    // under ("null": its address).
    virtual int32_t AddTaskMirror(TTaskHandle handle, const std::string &mirrorUrl, const std::string &hostName) = 0;
    virtual int32_t ClearTaskMirrors(TTaskHandle handle) = 0;
    virtual void EnableHttpWrap(int32_t on) = 0;
    virtual int32_t SetListenPort(int32_t port) = 0;
    virtual int32_t EnableListen(bool on) = 0;
    virtual int32_t EnableLanDiscovery(bool on) = 0;
    virtual uint64_t GetDiskFreeBytes(const std::string &path) = 0;
    virtual int64_t GetFileDiskSize(const std::string &path) = 0;
};
