#include "app/package_controller.h"

#include "app/installer_reasons.h"
#include "app/package_state.h"
#include "app/path_text.h"
#include "engine/base/log_channels.h"
#include "engine/base/quarrowlight_log.h"

namespace {

constexpr char kInstallFailedCaption[] = "安装失败";
constexpr char kShutdownFailedText[] = "自动关机失败，请手动关机";
constexpr uint32_t kShutdownDelaySeconds = 60;

} // namespace

void CPackageController::LaunchInstaller(bool verified)
{
    QAutoLock hold(lock);
    const uint32_t previous = state;
    state = PACKAGE_INSTALLING;
    const std::string path = JoinPath(saveFolder, installerName);
    if (!services.files.Exists(path)) {
        ShowBox("安装程序丢失", kInstallFailedCaption);
        services.report.FileEvent("11600102", installerName, "用户点击安装按钮，但是找不到安装程序，安装失败");
        EngineLogWrite("安装失败] [用户点击安装按钮，但是找不到安装程序", LOG_CHANNEL_CONTROLLER);
        state = previous;
        return;
    }
    const int code = services.shell.Open(path, saveFolder);
    state = previous;
    if (code > 32) {
        EngineLogWrite("开始安装] [用户点击安装按钮", LOG_CHANNEL_CONTROLLER);
        installerLaunched = true;
        services.frontEnd.DestroyMainWindow();
        return;
    }
    const std::string reason = std::string("安装程序无法正常打开，原因：") +
                               (verified ? "本次安装前通过了校验" : "本次安装前没有校验") +
                               InstallerOpenFailureText(code);
    ShowBox("安装程序无法正常打开", kInstallFailedCaption);
    EngineLogWrite(reason.c_str(), LOG_CHANNEL_CONTROLLER);
    try {
        services.report.FileEvent("11600101", installerName, reason);
    } catch (...) {
        EngineLogWrite("DC failed", LOG_CHANNEL_CONTROLLER);
    }
}

void CPackageController::OnExit()
{
    if (exited.exchange(true))
        return;
    // The check calls back into this object and the engine: it ends first,
    // and without the lock, which it may be waiting for.
    verifier->Stop();
    // So do the port mapping's workers; the mapping goes from the gateway.
    if (services.mapPort != nullptr)
        services.mapPort->Stop();
    // A speed refresh that began before the exit may still start a read:
    // once it has left the lock, none can; the read then ends before the
    // engine goes.
    {
        QAutoLock hold(lock);
    }
    reader->Stop();

    QAutoLock hold(lock);
    if (userExit) {
        EngineLogWrite("用户点击退出按钮", LOG_CHANNEL_CONTROLLER);
        const uint32_t now = state;
        if (now != PACKAGE_BACK && now != PACKAGE_READY && now != PACKAGE_FINISHED)
            ReportWithStats("11040000", "");
        EngineLogWrite("=====================退出=====================", LOG_CHANNEL_CONTROLLER);
    } else if (installerLaunched) {
        EngineLogWrite("由于启动了安装程序，退出", LOG_CHANNEL_CONTROLLER);
        EngineLogWrite("=====================退出=====================", LOG_CHANNEL_CONTROLLER);
    } else {
        ReportWithStats("11990501", "Unknow Exit, maybe crashed");
        EngineLogWrite("遭遇意外退出", LOG_CHANNEL_CONTROLLER);
        state = PACKAGE_EXITED;
        EngineLogWrite("=====================已退出=====================", LOG_CHANNEL_CONTROLLER);
    }
    ini.FlushDownloadedBytes();
    // Tasks write to the log and queue reports until they are gone; the
    // report then delivers what is queued, and the log goes last.
    services.engine.UninitEngine();
    for (TTaskHandle &handle : task)
        handle = nullptr;
    services.report.Stop();
    ReleaseEngineLog();
}

void CPackageController::ShutdownSoon()
{
    if (!services.power.OpenToken()) {
        ShowBox(kShutdownFailedText);
        return;
    }
    if (!services.power.SetShutdownPrivilege(true))
        ShowBox(kShutdownFailedText);
    if (!services.power.RequestShutdown(kShutdownDelaySeconds, "一分钟后将自动关机"))
        ShowBox(kShutdownFailedText);
    if (!services.power.SetShutdownPrivilege(false))
        ShowBox(kShutdownFailedText);
}
