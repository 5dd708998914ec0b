#include "cli/qlget/qlget_progress.h"

#include <cstdio>

std::string FormatBytes(uint64_t bytes)
{
    static const char *const units[] = {"B", "KiB", "MiB", "GiB", "TiB"};
    if (bytes < 1024)
        return std::to_string(bytes) + " B";
    double value = static_cast<double>(bytes);
    int unit = 0;
    while (value >= 1024 && unit < 4) {
        value /= 1024;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, value < 10 ? "%.2f %s" : "%.1f %s", value, units[unit]);
    return text;
}

std::string FormatDuration(int64_t seconds)
{
    if (seconds < 0)
        return "--:--";
    char text[32];
    if (seconds >= 3600)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                      static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
    else
        std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(seconds / 60),
                      static_cast<long long>(seconds % 60));
    return text;
}

std::string FormatProgressLine(const TTaskInfo &info)
{
    bool sizeKnown = info.totalKB > 0 || info.progress > 0;
    char percent[16];
    if (sizeKnown)
        std::snprintf(percent, sizeof percent, "%3u.%02u%%", info.progress / 100, info.progress % 100);
    else
        std::snprintf(percent, sizeof percent, "   ?  ");
    bool etaKnown = sizeKnown && info.speed > 0;
    return std::string(percent) + "  " + FormatBytes(info.doneBytes) + "  " +
           FormatBytes(static_cast<uint64_t>(info.speed > 0 ? info.speed : 0)) + "/s  ETA " +
           FormatDuration(etaKnown ? info.secondsLeft : -1) + "  servers " + FormatBytes(info.httpBytes) +
           "  peers " + FormatBytes(info.peerBytes);
}
