#include "app/resource_extractor.h"

#include "app/base64.h"
#include "app/path_text.h"
#include "engine/base/log_channels.h"
#include "engine/base/quarrowlight_log.h"

CResourceExtractor::CResourceExtractor(IResourceSource &resources, IAppFileSystem &files)
    : resources(resources), files(files)
{
}

void CResourceExtractor::Fail(ResourceFailure what)
{
    failure = what;
    switch (what) {
    case ResourceFailure::None:
        failureText = "";
        break;
    case ResourceFailure::NoModule:
        failureText = "进程句柄为空！";
        break;
    case ResourceFailure::NotFound:
        failureText = "获取资源失败！";
        break;
    case ResourceFailure::LoadFailed:
        failureText = "加载资源数据失败！";
        break;
    case ResourceFailure::CreateFailed:
        failureText = "创建文件失败！";
        break;
    }
}

int CResourceExtractor::WriteResourceFile(int32_t id, const char *type, const std::string &path, bool decode)
{
    writtenPath.clear();
    std::string bytes;
    switch (resources.Load(type, id, bytes)) {
    case ResourceLoad::Loaded:
        break;
    case ResourceLoad::NoModule:
        Fail(ResourceFailure::NoModule);
        return 0;
    case ResourceLoad::NotFound:
        Fail(ResourceFailure::NotFound);
        return 0;
    case ResourceLoad::LoadFailed:
        Fail(ResourceFailure::LoadFailed);
        return 0;
    }
    if (!files.WriteOwnFile(path, decode ? Base64Decode(bytes) : bytes)) {
        Fail(ResourceFailure::CreateFailed);
        return 0;
    }
    Fail(ResourceFailure::None);
    writtenPath = path;
    return 1;
}

int CResourceExtractor::ExtractResource(int32_t id, const std::string &folder, const std::string &fileName,
                                        const char *type, bool decode)
{
    // A name with a '/' would place the file outside both folders.
    const bool plainName = IsPlainFileName(fileName);
    std::string path = JoinPath(folder, fileName);
    if (!files.IsFolder(folder))
        files.MakeFolders(folder);
    if (plainName && WriteResourceFile(id, type, path, decode) == 1)
        return 0;
    EngineLogFormat(LOG_CHANNEL_FRONT_END, "Quarrowlight UI : 释放文件(path=%s)第一次失败", path.c_str());

    path = JoinPath(files.TempFolder(), fileName);
    if (plainName && WriteResourceFile(id, type, path, decode) == 1)
        return 1;
    if (!plainName)
        Fail(ResourceFailure::CreateFailed);
    EngineLogFormat(LOG_CHANNEL_FRONT_END, "Quarrowlight UI : 初始化失败，释放文件(path=%s)第二次失败", path.c_str());
    return -1;
}
