#include "platform/local_time.h"

#include <clocale>
#include <locale.h>

namespace platform {

std::string FormatLocalTime(const char *format, std::time_t when)
{
    std::tm parts{};
    if (localtime_r(&when, &parts) == nullptr)
        return std::string();
    char text[64];
    // strftime_l with the C locale keeps "%X" the same whatever the user's locale.
    static locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    size_t n = cLocale ? strftime_l(text, sizeof text, format, &parts, cLocale)
                       : strftime(text, sizeof text, format, &parts);
    return std::string(text, n);
}

std::string FormatLocalTimeNow(const char *format)
{
    return FormatLocalTime(format, std::time(nullptr));
}

} // namespace platform
