#include "app/package_controller.h"

#include "app/package_paths.h"
#include "app/package_state.h"
#include "app/path_text.h"
#include "engine/base/log_channels.h"
#include "engine/base/quarrowlight_log.h"

#include <cstring>

namespace {

constexpr char kVersionLabel[] = "游戏版本: 1.0.1.92";
constexpr char kGameId[] = "991002359";
constexpr char kGameVersion[] = "v1.0.1.92";
constexpr char kChannel[] = "1";
// The program carries no version record of its own on this platform.
constexpr char kDownloaderVersion[] = "1.0.3";
constexpr char kReportConfigFailed[] = "QLconf资源释放失败";
constexpr uint32_t kReopenSettleMs = 100;

} // namespace

int CPackageController::StartUp()
{
    QAutoLock hold(lock);
    CreateEngineLog();
    spaceShort = false;
    recheckList.Clear();
    speedLimitKBps = 0;
    shownSpeed = 0;
    anyTaskStarted = false;
    state = PACKAGE_BACK;
    downloaded = 0;
    versionText = kVersionLabel;

    dataFolder = PackageDataFolder(services.files, manifest.packageKey);
    if (!services.files.IsFolder(dataFolder))
        services.files.MakeFolders(dataFolder);
    logBase = PackageLogBase(dataFolder, manifest.packageKey);
    iniPath = PackageIniPath(dataFolder, manifest.packageKey);
    ini.SetPath(iniPath);
    WithEngineLog([&](CQuarrowlightLog &log) { log.SetBasePath(logBase.c_str()); });
    EngineLogWrite("=====================正在初始化=====================", LOG_CHANNEL_CONTROLLER);

    std::string configPath;
    if (ExtractReportConfig(configPath) < 0)
        return -2;
    services.report.Collect(configPath, kGameId, kDownloaderVersion, kGameVersion, kChannel);
    gatewayFound = true;
    IPortMappingSink &notices = services.portMappingNotices != nullptr ? *services.portMappingNotices : *this;
    services.engine.SetListenPort(services.mapPort != nullptr ? services.mapPort->MapListenPort(notices) : 0);
    // The stamped switch; QUARROWLIGHT_LAN in the environment overrides it.
    services.engine.EnableLanDiscovery(manifest.lanDiscovery);

    for (int i = 0; i < kPackageFileCount; ++i) {
        std::memset(&param[i], 0, sizeof param[i]);
        task[i] = nullptr;
    }
    userExit = false;
    installerLaunched = false;
    EngineLogWrite("自我恢复功能关闭", LOG_CHANNEL_CONTROLLER);
    httpConnections = ReadConnectionBudget(services.connectionOverridePath);
    peerConnections = 126;

    DecideStartMode();
    const uint32_t now = state;
    if (now == PACKAGE_FINISHED || now == PACKAGE_RECOVER || now == PACKAGE_RELOAD) {
        ReopenTasks();
        return 1;
    }
    return 0;
}

int CPackageController::ExtractReportConfig(std::string &configPath)
{
    switch (extractor.ExtractResource(kReportConfigResourceId, dataFolder, kReportConfigFileName,
                                      kReportConfigResourceType, true)) {
    case 0:
    case 1:
        configPath = extractor.WrittenPath();
        return 0;
    default:
        break;
    }
    // A program built without a report configuration simply reports nothing.
    if (extractor.LastFailure() == ResourceFailure::NotFound) {
        configPath.clear();
        return 0;
    }
    EngineLogWrite(kReportConfigFailed, LOG_CHANNEL_CONTROLLER);
    services.report.Event("11400190", kReportConfigFailed, 0);
    return -2;
}

void CPackageController::UseDefaultResumePaths(bool onlyEmpty)
{
    infoFolder = PackageInfoFolder(dataFolder, hash);
    services.files.MakeFolders(infoFolder);
    for (int i = 0; i < kPackageFileCount; ++i) {
        if (!onlyEmpty || resumePath[i].empty())
            resumePath[i] = TaskResumePath(infoFolder, manifest.name[i]);
    }
}

void CPackageController::DecideStartMode()
{
    bool fresh = false, allLost = false, verified = false, needCheck = false, resumable = false;
    const TPackageIniRecord record = ini.ReadRecord(manifest);
    if (!record.exists) {
        services.files.MakeFolders(dataFolder);
        lastSizeHigh = lastSizeLow = 0;
        hash = manifest.packageKey;
        saveFolder = ChooseDefaultSaveFolder(services.files);
        installerName = manifest.installerName;
        UseDefaultResumePaths(false);
        fresh = true;
    } else {
        int emptyKeys = record.createTimeEmpty ? 1 : 0;
        lastSizeHigh = record.lastSizeHigh;
        lastSizeLow = record.lastSizeLow;
        hash = record.hash;
        if (hash.empty()) {
            hash = manifest.packageKey;
            ++emptyKeys;
        }
        saveFolder = record.saveFolder;
        if (saveFolder.empty()) {
            saveFolder = ChooseDefaultSaveFolder(services.files);
            ++emptyKeys;
        }
        bool allPresent = true, someFinal = false;
        int missing = 0;
        for (int i = 0; i < kPackageFileCount; ++i) {
            const std::string path = FinalPath(i);
            if (services.files.Exists(path)) {
                someFinal = true;
                continue;
            }
            allPresent = false;
            if (record.complete || !services.files.Exists(path + ".qltmp"))
                ++missing;
        }
        // A finished package only counts its final names.
        if (record.complete)
            someFinal = false;
        if (allPresent || someFinal) {
            bool allMatch = true;
            for (int i = 0; i < kPackageFileCount; ++i)
                allMatch = stamps.CheckStamp(i, FinalPath(i), &recheckList) && allMatch;
            (allMatch ? verified : needCheck) = true;
        } else {
            (missing == kPackageFileCount ? allLost : resumable) = true;
        }
        installerName = record.installerName;
        if (installerName.empty()) {
            installerName = manifest.installerName;
            ++emptyKeys;
        }
        // An ini that holds only the close choice, for example.
        fresh = emptyKeys == 4;
        for (int i = 0; i < kPackageFileCount; ++i)
            resumePath[i] = record.resumePath[i];
        UseDefaultResumePaths(true);
        if (hash.empty())
            EngineLogWrite("恢复下载失败，无法进行续传", LOG_CHANNEL_CONTROLLER);
    }

    if (fresh) {
        state = PACKAGE_READY;
    } else if (allLost) {
        EngineLogWrite("目标文件全部丢失，退回初始状态", LOG_CHANNEL_CONTROLLER);
        ini.Remove();
        state = PACKAGE_READY;
        ShowBox("目标文件被删除或移动，请重新下载");
        saveFolder = ChooseDefaultSaveFolder(services.files);
    } else if (verified) {
        EngineLogWrite("下载已经完成，文件正确", LOG_CHANNEL_CONTROLLER);
        ChooseStorageMode();
        state = PACKAGE_FINISHED;
    } else if (needCheck) {
        EngineLogWrite("需要文件校验", LOG_CHANNEL_CONTROLLER);
        ChooseStorageMode();
        state = PACKAGE_RELOAD;
        services.clock.SleepMs(kReopenSettleMs);
    } else if (resumable) {
        EngineLogWrite("成功地恢复了下载，可以进行续传", LOG_CHANNEL_CONTROLLER);
        ChooseStorageMode();
        state = PACKAGE_RECOVER;
        services.clock.SleepMs(kReopenSettleMs);
    }
}

void CPackageController::ChooseStorageMode()
{
    switch (services.files.StorageMode(saveFolder)) {
    case TStorageMode::Preallocated:
        EngineLogWrite("使用磁盘预占", LOG_CHANNEL_CONTROLLER);
        runningSpaceTest = false;
        break;
    case TStorageMode::Sparse:
        EngineLogWrite("文件系统支持稀疏文件", LOG_CHANNEL_CONTROLLER);
        runningSpaceTest = true;
        break;
    case TStorageMode::Dense:
        EngineLogWrite("文件系统^不^支持稀疏文件", LOG_CHANNEL_CONTROLLER);
        runningSpaceTest = false;
        break;
    case TStorageMode::Unknown:
        break;
    }
}

void CPackageController::WriteStartKeys()
{
    TStartKeys keys;
    keys.hash = hash;
    const uint32_t now = state;
    keys.withFiles = now == PACKAGE_BACK || now == PACKAGE_READY;
    keys.saveFolder = saveFolder;
    keys.entrance = installerName;
    ini.WriteStartKeys(keys, manifest);
    saveFolder = keys.saveFolder;
    installerName = keys.entrance;
}
