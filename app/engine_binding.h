#pragma once
#include "app/package_engine.h"

// The real engine behind the controller's engine operations.
class CEngineBinding : public IPackageEngine {
public:
    int32_t InitEngine() override;
    int32_t UninitEngine() override;
    int32_t CreateDownloadTask(TTaskParam &param) override;
    int32_t RecoverDownloadTask(TTaskParam &param, bool force) override;
    int32_t StopDownloadTask(TTaskHandle handle, bool reset) override;
    int32_t StopDownloadTasks(const std::vector<TTaskHandle> &handles, bool reset) override;
    int32_t ResumeDownloadTask(TTaskHandle handle) override;
    int32_t GetTaskInfo(TTaskHandle handle, TTaskInfo &info) override;
    int32_t IsTaskComplete(TTaskHandle handle, int32_t &complete) override;
    int32_t IsTaskRunning(TTaskHandle handle, int32_t &running) override;
    int32_t SetTaskSpeedLimit(TTaskHandle handle, int32_t kind, int32_t value) override;
    int32_t SetTaskPeerLimits(TTaskHandle handle, int32_t maxServers, int32_t maxPeers) override;
    int32_t AddTaskMirror(TTaskHandle handle, const std::string &mirrorUrl, const std::string &hostName) override;
    int32_t ClearTaskMirrors(TTaskHandle handle) override;
    void EnableHttpWrap(int32_t on) override;
    int32_t SetListenPort(int32_t port) override;
    int32_t EnableListen(bool on) override;
    int32_t EnableLanDiscovery(bool on) override;
    uint64_t GetDiskFreeBytes(const std::string &path) override;
    int64_t GetFileDiskSize(const std::string &path) override;
};
