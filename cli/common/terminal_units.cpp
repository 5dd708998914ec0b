#include "cli/common/terminal_units.h"

#include <charconv>
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

bool ParseSpeedLimit(const std::string &name, const std::string &text, int32_t &value, std::string &error)
{
    int64_t parsed = -1;
    auto [end, problem] = std::from_chars(text.data(), text.data() + text.size(), parsed);
    if (problem != std::errc() || end != text.data() + text.size() || parsed < 0 || parsed > kMaxSpeedLimitKBps) {
        error = name + " takes KB/s from 0 (no limit) to " + std::to_string(kMaxSpeedLimitKBps) + ", not '" + text + "'";
        return false;
    }
    value = static_cast<int32_t>(parsed);
    return true;
}
