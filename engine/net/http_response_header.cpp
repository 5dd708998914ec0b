#include "engine/net/http_response_header.h"

#include <cstring>

namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

bool SameLetters(const char *a, const char *b, size_t count, bool caseSensitive)
{
    if (caseSensitive)
        return std::memcmp(a, b, count) == 0;
    for (size_t i = 0; i < count; ++i) {
        char x = a[i];
        char y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<char>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

} // namespace

int32_t THttpResponseHeader::FindEnd(const char *data, int32_t length)
{
    const int32_t scan = length < kMaxBytes ? length : kMaxBytes;
    int32_t at = 0;
    while (at < scan) {
        const void *hit = std::memchr(data + at, '\n', static_cast<size_t>(scan - at));
        if (hit == nullptr)
            break;
        const int32_t lf = static_cast<int32_t>(static_cast<const char *>(hit) - data);
        int32_t end = -1;
        if (lf + 1 < length && data[lf + 1] == '\n')
            end = lf + 2;
        else if (lf + 2 < length && data[lf + 1] == '\r' && data[lf + 2] == '\n')
            end = lf + 3;
        else if (lf + 2 >= length)
            return length >= kMaxBytes ? -1 : 0;
        if (end > 0)
            return end <= kMaxBytes ? end : -1;
        at = lf + 1;
    }
    return length >= kMaxBytes ? -1 : 0;
}

void THttpResponseHeader::Clear()
{
    lines.clear();
    statusCode = 0;
    version.clear();
    reason.clear();
}

void THttpResponseHeader::Parse(const char *data, int32_t length)
{
    Clear();
    std::string text(data, static_cast<size_t>(length > 0 ? length : 0));
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n'))
        text.pop_back();
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(std::move(line));
        start = end + 1;
    }
    if (lines.empty())
        return;
    const std::string first = lines.front();
    if (first.compare(0, 4, "HTTP") == 0) {
        ParseStatusLine(first);
        lines.erase(lines.begin());
    } else if (first.find(separator) == std::string::npos) {
        lines.erase(lines.begin());
    }
}

void THttpResponseHeader::ParseStatusLine(const std::string &line)
{
    size_t at = 0;
    if (line.size() > 4 && line[4] == '/') {
        while (at < line.size() && !IsBlank(line[at]))
            ++at;
        version = line.substr(0, at);
    }
    while (at < line.size() && !IsBlank(line[at]))
        ++at;
    while (at < line.size() && IsBlank(line[at]))
        ++at;
    // Three digits at most: anything longer is no status code.
    int32_t code = 0;
    int digits = 0;
    while (at < line.size() && line[at] >= '0' && line[at] <= '9') {
        if (++digits > 3) {
            code = 0;
            break;
        }
        code = code * 10 + (line[at] - '0');
        ++at;
    }
    statusCode = code;
    while (at < line.size() && !IsBlank(line[at]))
        ++at;
    while (at < line.size() && IsBlank(line[at]))
        ++at;
    reason = line.substr(at);
}

size_t THttpResponseHeader::ValueStart(const std::string &line, const std::string &name) const
{
    if (name.empty() || line.size() < name.size() || !SameLetters(line.data(), name.data(), name.size(), caseSensitive))
        return std::string::npos;
    size_t at = name.size();
    // Blanks before the separator: bytes 1 to 32.
    while (at < line.size() && line[at] >= 1 && line[at] <= 32)
        ++at;
    if (at >= line.size() || line[at] != separator)
        return std::string::npos;
    ++at;
    while (at < line.size() && IsBlank(line[at]))
        ++at;
    return at;
}

bool THttpResponseHeader::Find(const std::string &name, std::string &value) const
{
    for (const std::string &line : lines) {
        size_t at = ValueStart(line, name);
        if (at != std::string::npos) {
            value = line.substr(at);
            return true;
        }
    }
    return false;
}

std::vector<std::string> THttpResponseHeader::FindAll(const std::string &name) const
{
    std::vector<std::string> values;
    for (const std::string &line : lines) {
        size_t at = ValueStart(line, name);
        if (at != std::string::npos)
            values.push_back(line.substr(at));
    }
    return values;
}
