#include "app/package_texts.h"

#include <cstdio>

namespace {

constexpr uint64_t kKilo = 1024;
constexpr uint64_t kMega = kKilo * 1024;
constexpr uint64_t kGiga = kMega * 1024;
constexpr uint64_t kTera = kGiga * 1024;
constexpr uint64_t kUnknownSpeed = 3435973836ULL;

std::string Scaled(double value, const char *unit)
{
    char text[64];
    std::snprintf(text, sizeof text, "%0.1f %s", value, unit);
    return text;
}

} // namespace

std::string SizeText(uint64_t bytes)
{
    const double value = static_cast<double>(bytes);
    if (bytes >= kTera)
        return Scaled(value / kTera, "TB");
    if (bytes >= kGiga)
        return Scaled(value / kGiga, "GB");
    if (bytes >= kMega)
        return Scaled(value / kMega, "MB");
    if (bytes >= kKilo)
        return Scaled(value / kKilo, "KB");
    if (bytes == 0)
        return std::string();
    return std::to_string(bytes) + " B";
}

std::string SpeedText(uint64_t speed)
{
    const double value = static_cast<double>(speed);
    if (speed >= kUnknownSpeed)
        return "未知";
    if (speed >= kGiga)
        return Scaled(value / kGiga, "GB/s");
    if (speed >= kMega)
        return Scaled(value / kMega, "MB/s");
    if (speed < kKilo)
        return std::to_string(speed) + " B/s";
    return Scaled(value / kKilo, "KB/s");
}

std::string PercentText(uint32_t hundredths)
{
    char text[32];
    if (hundredths % 100 != 0)
        std::snprintf(text, sizeof text, "%u.%02u%%", hundredths / 100, hundredths % 100);
    else
        std::snprintf(text, sizeof text, "%u%%", hundredths / 100);
    return text;
}

std::string FractionText(uint32_t hundredths)
{
    char text[32];
    std::snprintf(text, sizeof text, "%u.%02u%%", hundredths / 100, hundredths % 100);
    return text;
}
