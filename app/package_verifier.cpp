#include "app/package_verifier.h"

#include "app/file_md5.h"
#include "app/package_state.h"
#include "engine/base/log_channels.h"
#include "engine/base/quarrowlight_log.h"

#include <cstdio>
#include <utility>

namespace {

constexpr uint32_t kWaitSliceMs = 100;
constexpr uint32_t kComplete = 10000;

std::string RepairCountText(int passes)
{
    char text[64];
    std::snprintf(text, sizeof text, "修复次数：%d", passes);
    return text;
}

} // namespace

CPackageVerifier::CPackageVerifier(IVerificationHost &host, TVerificationStatus &status,
                                   const PackageManifest &manifest, IAppFileSystem &files, IAppClock &clock,
                                   std::function<bool()> stop)
    : host(host), status(status), manifest(manifest), files(files), clock(clock), stop(std::move(stop))
{
}

bool CPackageVerifier::VerifyFile(int index, bool first)
{
    const std::string path = host.FilePath(index);
    const TFileDigest digest = FileMd5(
        files, path,
        [&](uint32_t progress) {
            status.checkIndex = index;
            status.checkProgress = progress;
        },
        stop);
    if (digest.outcome == Md5Outcome::Stopped)
        return false;
    const std::string &expected = manifest.md5[index];
    const char *name = manifest.name[index].c_str();
    if (digest.outcome != Md5Outcome::Done || digest.hex != expected) {
        status.mismatchSeen = true;
        status.checkIndex = index;
        status.checkProgress = 0;
        EngineLogFormat(LOG_CHANNEL_CONTROLLER, "MD5不匹配：%s，Except：%s，Actural：%s", name, expected.c_str(),
                        digest.hex.c_str());
        if (first)
            status.SetLastActualMd5(digest.hex);
        return false;
    }
    EngineLogFormat(LOG_CHANNEL_CONTROLLER, "MD5匹配：%s，Except：%s，Actural：%s", name, expected.c_str(), digest.hex.c_str());
    return true;
}

void CPackageVerifier::Run()
{
    status.mismatchSeen = false;
    for (int i = 0; i < kPackageFileCount; ++i) {
        int passes = 0;
        status.SetLastActualMd5(std::string());
        bool ok = VerifyFile(i, true);
        if (stop())
            return;
        if (!ok)
            host.ReportFileEvent("11500201", manifest.name[i], "MD5 unmatched (" + status.LastActualMd5() + ")");
        while (!ok && passes < kMaxRepairPasses) {
            if (!RepairOnce(i))
                return;
            host.SetState(PACKAGE_MD5_CHECKING);
            ok = VerifyFile(i, false);
            if (stop())
                return;
            ++passes;
            if (ok)
                host.ReportFileEvent("11100003", manifest.name[i], RepairCountText(passes));
        }
        if (!ok) {
            host.ShowMessage(kRepairFailedText);
            host.ReportFileEvent("11990501", manifest.name[i], RepairCountText(passes));
            host.SetState(PACKAGE_FAILED);
            return;
        }
    }
    host.ReportEvent("11100004", "");
    host.SetState(PACKAGE_CHECK_FINISHED);
    if (status.installAfterCheck)
        host.PostInstallAfterCheck();
}

bool CPackageVerifier::RepairOnce(int index)
{
    host.SetState(PACKAGE_CHECK_RECOVER);
    status.repairProgress = 0;
    status.repairSpeed = 0;
    status.repairFailed = false;
    host.StopTask(index);
    if (!ReopenForRepair(index)) {
        if (stop())
            return false;
        host.ShowMessage("修复出错，请尝试重新启动下载器");
        // Left in state 11 nothing would ever run again and Install would
        // answer "repairing" until a restart; failed is what it is.
        host.SetState(PACKAGE_FAILED);
        return false;
    }
    if (!AwaitRepairedFile(index))
        return false;
    host.WriteStamp(index);
    return true;
}

bool CPackageVerifier::ReopenForRepair(int index)
{
    for (int attempt = 0; attempt < kRepairReopenAttempts; ++attempt) {
        if (stop())
            return false;
        if (host.ReopenTaskForRepair(index)) {
            status.repairFailed = false;
            return true;
        }
        status.repairFailed = true;
    }
    return false;
}

bool CPackageVerifier::AwaitRepairedFile(int index)
{
    for (;;) {
        if (!WaitOneSecond())
            return false;
        TTaskInfo info{};
        const bool known = host.QueryTask(index, info);
        // The task says 10000 a moment before its data file gets the final
        // name; the file is only finished once that name exists.
        if (known && info.progress >= kComplete && files.Exists(host.FilePath(index)))
            return true;
        status.repairProgress = known ? info.progress : 0;
        status.repairSpeed = known && info.speed > 0 ? static_cast<uint32_t>(info.speed) : 0;
    }
}

bool CPackageVerifier::WaitOneSecond()
{
    for (uint32_t waited = 0; waited < 1000; waited += kWaitSliceMs) {
        if (stop())
            return false;
        clock.SleepMs(kWaitSliceMs);
    }
    return !stop();
}
