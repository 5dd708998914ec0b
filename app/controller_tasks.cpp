#include "app/package_controller.h"

#include "app/package_paths.h"
#include "app/package_state.h"
#include "app/path_text.h"
#include "app/task_param.h"
#include "app/verification_start.h"
#include "engine/base/log_channels.h"
#include "engine/base/quarrowlight_log.h"

#include <cstdio>
#include <vector>

namespace {

constexpr char kStartFailedText[] = "下载启动失败请重试";

} // namespace

bool CPackageController::PrepareTask(int index, bool newTask)
{
    TTaskTexts texts;
    const int written = extractor.ExtractResource(manifest.torrentId[index], dataFolder, manifest.md5[index],
                                                  kTorrentResourceType, false);
    if (written >= 0) {
        texts.torrentPath = extractor.WrittenPath();
    } else {
        EngineLogWrite("Torent 资源释放失败", LOG_CHANNEL_CONTROLLER);
        services.report.Event(newTask ? "11400190" : "11400101", "QLconf资源释放失败", 0);
    }
    if (newTask)
        param[index].userState = 0;
    texts.sourceList = manifest.url[index].c_str();
    texts.resumePath = resumePath[index];
    texts.defaultResumePath = TaskResumePath(infoFolder, manifest.name[index]);
    texts.targetPath = FinalPath(index);
    if (!FillTaskParam(param[index], texts))
        return false;
    // The limit holds from the first byte, not from the first budget pass.
    param[index].downloadLimitKBps = NewTaskLimitShare();
    return true;
}

void CPackageController::CreateTasks()
{
    if (services.engine.GetDiskFreeBytes(saveFolder) < manifest.SpaceRequirement()) {
        ShowBox("当前磁盘空间不足，请选择其他位置存放");
        spaceShort = true;
        return;
    }
    spaceShort = false;
    services.report.Event("11010000", "", 7);
    WriteStartKeys();
    ini.WriteSavePath(saveFolder);
    runSeconds = totalSeconds = 0;
    services.engine.EnableHttpWrap(1);
    services.files.MakeFolders(saveFolder);
    ChooseStorageMode();

    if (services.engine.InitEngine() != ENGINE_OK) {
        EngineLogWrite("Begin Download Task] [环境初始化失败", LOG_CHANNEL_CONTROLLER);
        services.report.Event("11400101", "Begin Download Task 环境初始化失败", 0);
        services.frontEnd.ShowModalMessage(kStartFailedText, kMessageCaption);
    } else {
        for (int i = 0; i < kPackageFileCount; ++i) {
            if (PrepareTask(i, true) && services.engine.CreateDownloadTask(param[i]) == ENGINE_OK)
                task[i] = param[i].hTask;
            anyTaskStarted = true;
            ReapplySpeedLimit();
        }
    }
    ReapplySpeedLimit();
    state = PACKAGE_PREPARING;
}

void CPackageController::ReopenTasks()
{
    WriteStartKeys();
    runSeconds = totalSeconds = 0;
    services.engine.EnableHttpWrap(1);
    if (services.engine.InitEngine() != ENGINE_OK) {
        EngineLogWrite("Reload Download Task] [环境初始化失败", LOG_CHANNEL_CONTROLLER);
        services.report.Event("11400101", "继续下载：环境初始化失败", 0);
        services.frontEnd.ShowModalMessage(kStartFailedText, kMessageCaption);
        return;
    }
    for (int i = 0; i < kPackageFileCount; ++i) {
        stamps.CheckStamp(i, FinalPath(i), &recheckList);
        if (recheckList.Contains(i))
            ReopenTask(i, false);
        else
            param[i].userState = 1;
    }
    if (UnfinishedCount() > 0) {
        services.report.Event("11030000", "", 0);
        anyTaskStarted = true;
        ReapplySpeedLimit();
    } else {
        anyTaskStarted = false;
    }
}

bool CPackageController::ReopenTask(int index, bool force)
{
    if (manifest.url[index].empty())
        ShowBox("下载源出错，请验证这个下载工具的md5是否正确");
    int32_t result = ENGINE_INVALID_ARGUMENT;
    if (PrepareTask(index, false))
        result = services.engine.RecoverDownloadTask(param[index], force);
    if (result == ENGINE_OK) {
        EngineLogWrite("Reload 成功", LOG_CHANNEL_CONTROLLER);
        task[index] = param[index].hTask;
        ini.WriteReopenedTask(index, manifest.name[index]);
        return true;
    }
    EngineLogWrite("Reload 失败", LOG_CHANNEL_CONTROLLER);
    char text[64];
    std::snprintf(text, sizeof text, "ErrorCode : %d", result);
    ShowBox(text);
    return false;
}

void CPackageController::StopAllTasks()
{
    std::vector<TTaskHandle> handles;
    for (TTaskHandle handle : task) {
        if (handle != nullptr)
            handles.push_back(handle);
    }
    if (!handles.empty())
        services.engine.StopDownloadTasks(handles, false);
}

void CPackageController::PauseTasks()
{
    ReportWithStats("11020000", "");
    StopAllTasks();
    state = PACKAGE_PAUSE;
}

void CPackageController::ContinueTasks()
{
    services.report.Event("11030000", "", 0);
    for (int i = 0; i < kPackageFileCount; ++i) {
        if (stamps.CheckStamp(i, FinalPath(i)))
            continue;
        param[i].userState = 0;
        // A file trusted at start-up has no task yet: it is reopened instead.
        if (task[i] != nullptr)
            services.engine.ResumeDownloadTask(task[i]);
        else
            ReopenTask(i, false);
    }
    state = PACKAGE_RESUME;
}

void CPackageController::Install()
{
    services.report.Event("11070000", "", 0);
    if (!services.frontEnd.AskYesNo("是否验证安装文件的正确性？", kMessageCaption)) {
        services.report.Event("11100002", "", 0);
        LaunchInstaller(false);
        return;
    }
    services.report.Event("11100001", "", 0);
    StartVerification(*this, *verifier, verification, true);
}

void CPackageController::VerifyPackage()
{
    QAutoLock hold(lock);
    if (exited || state != PACKAGE_FINISHED)
        return;
    services.report.Event("11100001", "", 0);
    StartVerification(*this, *verifier, verification, false);
}

void CPackageController::OnMainButton()
{
    QAutoLock hold(lock);
    if (exited)
        return;
    switch (state) {
    case PACKAGE_BACK:
    case PACKAGE_READY:
        CreateTasks();
        break;
    case PACKAGE_DOWNLOADING:
    case PACKAGE_RESUME:
        PauseTasks();
        break;
    case PACKAGE_PAUSE:
        ContinueTasks();
        break;
    case PACKAGE_FINISHED:
        Install();
        break;
    case PACKAGE_MD5_CHECKING:
        ShowBox("MD5计算工作中……请等待完成");
        break;
    case PACKAGE_CHECK_RECOVER:
        ShowBox("部分文件错误，正在修复中...");
        break;
    case PACKAGE_CHECK_FINISHED:
        services.report.Event("11070000", "点击时已经验证过安装包分卷了", 0);
        LaunchInstaller(true);
        break;
    default:
        break;
    }
}
