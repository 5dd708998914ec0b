#include "platform/port_table.h"

#include <string>

#include "platform/read_file.h"

namespace platform {

namespace {

// Far above what a busy machine lists; a longer table is read no further.
constexpr size_t kMaxTableBytes = 64 * 1024 * 1024;

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
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
    while (pos < line.size() && HexDigit(line[pos]) >= 0)
        ++pos;
    const size_t digits = pos - address;
    if ((digits != 8 && digits != 32) || pos >= line.size() || line[pos] != ':')
        return -1;
    ++pos;
    if (line.size() - pos < 4)
        return -1;
    int32_t port = 0;
    for (size_t i = 0; i < 4; ++i) {
        const int digit = HexDigit(line[pos + i]);
        if (digit < 0)
            return -1;
        port = port * 16 + digit;
    }
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
