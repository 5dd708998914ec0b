#pragma once
#include <functional>
#include <string>

#include "app/app_clock.h"
#include "app/app_file_system.h"
#include "app/package_manifest.h"
#include "app/verification_host.h"
#include "app/verification_status.h"

inline constexpr char kRepairFailedText[] =
    "修复失败：\r\n\r\n多次修复安装文件仍然出错，请尝试其他方式下载客户端\r\n或重启下载器进行再次修复";
inline constexpr int kMaxRepairPasses = 5;
inline constexpr int kRepairReopenAttempts = 4;

// MD5 verification and repair of the six files, in index order: a file
// whose digest differs from the manifest's is downloaded again through its
// engine task and compared again, up to five times. Runs on the
// verification thread; stop is that thread's stop flag, and a stop ends the
// work at once without changing the package state.
class CPackageVerifier {
public:
    CPackageVerifier(IVerificationHost &host, TVerificationStatus &status, const PackageManifest &manifest,
                     IAppFileSystem &files, IAppClock &clock, std::function<bool()> stop);

    // Computes and compares one file's digest; true on a match. A file that
    // cannot be read never matches. With first, a mismatch keeps the
    // computed digest as the status's last actual digest.
    bool VerifyFile(int index, bool first);

    // The whole check: ends in state 12 (and the install request when one
    // was made), or in state 7 when a file cannot be repaired.
    void Run();

private:
    // One repair download of a file; false when the check must end.
    bool RepairOnce(int index);
    bool ReopenForRepair(int index);
    // Waits until the task reports the file complete and the file is there
    // under its final name; false when stopped.
    bool AwaitRepairedFile(int index);
    bool WaitOneSecond();

    IVerificationHost &host;
    TVerificationStatus &status;
    const PackageManifest &manifest;
    IAppFileSystem &files;
    IAppClock &clock;
    std::function<bool()> stop;
};
