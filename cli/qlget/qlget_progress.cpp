#include "cli/qlget/qlget_progress.h"

#include <cstdio>

std::string FormatProgressLine(const TTaskInfo &info)
{
    bool sizeKnown = info.totalKB > 0 || info.progress > 0;
    char percent[16];
    if (sizeKnown)
        std::snprintf(percent, sizeof percent, "%3u.%02u%%", info.progress / 100, info.progress % 100);
    else
        std::snprintf(percent, sizeof percent, "   ?  ");
    return std::string(percent) + "  " + FormatBytes(info.doneBytes) + "  " +
           FormatBytes(static_cast<uint64_t>(info.speed > 0 ? info.speed : 0)) + "/s  ETA " +
           FormatDuration(sizeKnown ? KnownSecondsLeft(info.speed, info.secondsLeft) : -1) + "  servers " +
           FormatBytes(info.httpBytes) + "  peers " + FormatBytes(info.peerBytes);
}
