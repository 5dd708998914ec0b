#pragma once
#include <ctime>
#include <string>

namespace platform {

// Formats a calendar time as local time with strftime in the C locale
// ("%X" gives "HH:MM:SS"). Results longer than 63 bytes are cut.
std::string FormatLocalTime(const char *format, std::time_t when);
std::string FormatLocalTimeNow(const char *format);

} // namespace platform
