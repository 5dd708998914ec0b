#include "ui/state_texts.h"

#include <cstdio>

#include "app/package_state.h"
#include "app/package_texts.h"

namespace {
// While repairing, "修复中..." shows for the first four of every twelve
// seconds and the repair speed for the other eight.
constexpr uint32_t kRepairCycle = 12;
constexpr uint32_t kRepairNoticeSeconds = 4;
} // namespace

std::string PercentText100(uint32_t hundredths)
{
    char text[32];
    std::snprintf(text, sizeof text, "%3.2f%%", hundredths / 100.0);
    return text;
}

TStateTexts TextsForState(const TStateInputs &in)
{
    TStateTexts texts;
    switch (in.state) {
    case PACKAGE_FINISHED:
    case PACKAGE_INSTALLING:
        texts.finished = "下载完成";
        break;
    case PACKAGE_CHECK_FINISHED:
        texts.finished = in.mismatchSeen ? "√ 修复成功" : "√ 验证通过";
        break;
    case PACKAGE_MD5_CHECKING:
        texts.speed = "文件验证中...";
        texts.label = "验证进度:";
        texts.percent = PercentText100(in.checkProgress);
        break;
    case PACKAGE_CHECK_RECOVER:
        if (in.repairProgress == 0)
            texts.speed = "修复准备...";
        else if (in.redraws % kRepairCycle < kRepairNoticeSeconds)
            texts.speed = "修复中...";
        else
            texts.speed = SpeedText(in.repairSpeed);
        texts.label = "修复进度:";
        texts.percent = in.repairProgress == 0 ? "准备中" : PercentText100(in.repairProgress);
        break;
    default:
        texts.speed = in.speedText;
        texts.label = "当前进度:";
        texts.percent = PercentText100(in.overallProgress);
        break;
    }
    return texts;
}
