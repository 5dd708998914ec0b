#include "platform/port_table.h"

#include <cctype>
#include <charconv>
#include <string>

#include "platform/read_file.h"

namespace platform {

namespace {

// Far above what a busy machine lists; a longer table is read no further.
constexpr size_t kMaxTableBytes = 64 * 1024 * 1024;

bool IsHexDigit(char c)
{
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

// "  sl  local_address ..." rows: "N: ADDRESS:PORT ..." with the address in
// 8 or 32 hex digits and the port in 4. Returns -1 for any other line.
int32_t LocalPortOfLine(std::string_view line)
{
    size_t pos = 0;
    while (pos < line.size() && IsBlank(line[pos]))
        ++pos;
    const size_t slot = pos;
    while (pos < line.size() && line[pos] >= '0' && line[pos] <= '9')
        ++pos;
    if (pos == slot || pos >= line.size() || line[pos] != ':')
        return -1;
    ++pos;
    while (pos < line.size() && IsBlank(line[pos]))
        ++pos;
    const size_t address = pos;
    while (pos < line.size() && IsHexDigit(line[pos]))
        ++pos;
    const size_t digits = pos - address;
    if ((digits != 8 && digits != 32) || pos >= line.size() || line[pos] != ':')
        return -1;
    ++pos;
    if (line.size() - pos < 4)
        return -1;
    uint16_t port = 0;
    const char *digits4 = line.data() + pos;
    const std::from_chars_result read = std::from_chars(digits4, digits4 + 4, port, 16);
    if (read.ec != std::errc() || read.ptr != digits4 + 4)
        return -1;
    if (line.size() > pos + 4 && !IsBlank(line[pos + 4]))
        return -1;
    return port;
}

} // namespace

bool PortListedInTable(std::string_view table, uint16_t port)
{
    size_t start = 0;
    while (start < table.size()) {
        size_t end = table.find('\n', start);
        if (end == std::string_view::npos)
            end = table.size();
        if (LocalPortOfLine(table.substr(start, end - start)) == port)
            return true;
        start = end + 1;
    }
    return false;
}

bool IsPortInUse(uint16_t port)
{
    for (const char *path : {"/proc/net/tcp", "/proc/net/tcp6", "/proc/net/udp", "/proc/net/udp6"}) {
        std::string table;
        if (ReadWholeFile(path, kMaxTableBytes, table) == ReadFileStatus::Ok && PortListedInTable(table, port))
            return true;
    }
    return false;
}

} // namespace platform
