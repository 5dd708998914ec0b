#include "app/engine_binding.h"

int32_t CEngineBinding::InitEngine()
{
    return ::InitEngine();
}

int32_t CEngineBinding::UninitEngine()
{
    return ::UninitEngine();
}

int32_t CEngineBinding::CreateDownloadTask(TTaskParam &param)
{
    return ::CreateDownloadTask(&param);
}

int32_t CEngineBinding::RecoverDownloadTask(TTaskParam &param, bool force)
{
    return ::RecoverDownloadTask(&param, force);
}

int32_t CEngineBinding::StopDownloadTask(TTaskHandle handle, bool reset)
{
    return ::StopDownloadTask(handle, reset);
}

int32_t CEngineBinding::StopDownloadTasks(const std::vector<TTaskHandle> &handles, bool reset)
{
    return ::StopDownloadTasks(handles.data(), static_cast<int32_t>(handles.size()), reset, nullptr);
}

int32_t CEngineBinding::ResumeDownloadTask(TTaskHandle handle)
{
    return ::ResumeDownloadTask(handle);
}

int32_t CEngineBinding::GetTaskInfo(TTaskHandle handle, TTaskInfo &info)
{
    return ::GetTaskInfo(handle, &info);
}

int32_t CEngineBinding::IsTaskComplete(TTaskHandle handle, int32_t &complete)
{
    return ::IsTaskComplete(handle, &complete);
}

int32_t CEngineBinding::IsTaskRunning(TTaskHandle handle, int32_t &running)
{
    return ::IsTaskRunning(handle, &running);
}

int32_t CEngineBinding::SetTaskSpeedLimit(TTaskHandle handle, int32_t kind, int32_t value)
{
    return ::SetTaskSpeedLimit(handle, kind, value);
}

int32_t CEngineBinding::SetTaskPeerLimits(TTaskHandle handle, int32_t maxServers, int32_t maxPeers)
{
    return ::SetTaskPeerLimits(handle, maxServers, maxPeers);
}

int32_t CEngineBinding::AddTaskMirror(TTaskHandle handle, const std::string &mirrorUrl, const std::string &hostName)
{
    return ::AddTaskMirror(handle, mirrorUrl.c_str(), hostName.c_str());
}

int32_t CEngineBinding::ClearTaskMirrors(TTaskHandle handle)
{
    return ::ClearTaskMirrors(handle);
}

void CEngineBinding::EnableHttpWrap(int32_t on)
{
    ::EnableHttpWrap(on);
}

int32_t CEngineBinding::SetListenPort(int32_t port)
{
    return ::SetListenPort(port);
}

int32_t CEngineBinding::EnableListen(bool on)
{
    return ::EnableListen(on);
}

int32_t CEngineBinding::EnableLanDiscovery(bool on)
{
    return ::EnableLanDiscovery(on);
}

uint64_t CEngineBinding::GetDiskFreeBytes(const std::string &path)
{
    return ::GetDiskFreeBytes(path.c_str());
}

int64_t CEngineBinding::GetFileDiskSize(const std::string &path)
{
    return ::GetFileDiskSize(path.c_str());
}
