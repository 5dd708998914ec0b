#include "app/verification_start.h"

#include "app/package_state.h"
#include "app/package_verifier.h"

void StartVerification(IVerificationHost &host, IVerificationWorker &worker, TVerificationStatus &status,
                       bool installAfter)
{
    const uint32_t state = host.State();
    switch (state) {
    case PACKAGE_CHECK_RECOVER:
        host.ShowMessage("部分文件错误，正在修复中...");
        return;
    case PACKAGE_MD5_CHECKING:
        host.ShowMessage("MD5计算工作中……请等待完成");
        return;
    case PACKAGE_CHECK_FINISHED:
        host.LaunchInstallerVerified();
        return;
    case PACKAGE_FINISHED:
        host.SetState(PACKAGE_MD5_CHECKING);
        status.checkIndex = 0;
        status.checkProgress = 0;
        status.installAfterCheck = installAfter;
        host.PrepareCheck();
        if (!worker.Begin()) {
            // Without the thread nothing would ever leave state 10.
            host.SetState(PACKAGE_FINISHED);
            host.ShowMessage("检查线程创建失败，请重试");
        }
        return;
    default:
        if (state == PACKAGE_FAILED && host.OverallProgress() == 10000)
            host.ShowMessage(kRepairFailedText);
        else
            host.ShowMessage("请先将客户端下载完成，再点击检查按钮");
        return;
    }
}
