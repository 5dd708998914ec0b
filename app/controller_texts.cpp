#include "app/package_controller.h"

#include "app/package_state.h"
#include "app/package_texts.h"

std::string CPackageController::GetSizeText()
{
    const uint64_t total = manifest.PackageSize();
    if (state == PACKAGE_FINISHED)
        return SizeText(total) + "/" + SizeText(total);
    const uint64_t bytes = downloaded;
    return (bytes != 0 ? SizeText(bytes) : std::string("0 B")) + "/" + SizeText(total);
}

std::string CPackageController::GetStatusText(int index)
{
    if (index < 0 || index >= kPackageFileCount)
        return std::string();
    QAutoLock hold(lock);
    const uint32_t now = state;
    const int32_t checking = verification.checkIndex;
    if (IsDone(index)) {
        if (now == PACKAGE_MD5_CHECKING || now == PACKAGE_CHECK_RECOVER) {
            if (index > checking)
                return "待验证    ";
            if (index < checking)
                return "√ 验证通过  ";
            if (now == PACKAGE_MD5_CHECKING)
                return "验证中：" + FractionText(verification.checkProgress) + "  ";
            const uint32_t repair = verification.repairProgress;
            return repair == 0 ? std::string("准备修复.. ") : "修复中：" + FractionText(repair) + "  ";
        }
        return now == PACKAGE_CHECK_FINISHED ? "√ 验证通过  " : "√ 下载完成  ";
    }
    const char *notStarted = now == PACKAGE_DOWNLOADING ? "准备下载    " : "未开始    ";
    TTaskInfo info{};
    if (!AskTask(index, info) || info.progress == 0)
        return notStarted;
    if (info.progress >= 10000)
        return "√ 下载完成  ";
    return FractionText(info.progress) + "    ";
}
