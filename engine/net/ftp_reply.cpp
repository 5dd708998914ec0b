#include "engine/net/ftp_reply.h"

#include "engine/net/ipv4_address.h"

namespace {

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Index of the next LF at or after from, -1 when none is buffered.
int32_t FindLineEnd(const char *data, int32_t from, int32_t length)
{
    for (int32_t i = from; i < length; ++i)
        if (data[i] == '\n')
            return i;
    return -1;
}

// Length of the line [from, end) without a CR before its LF.
int32_t LineLength(const char *data, int32_t from, int32_t end)
{
    return end > from && data[end - 1] == '\r' ? end - from - 1 : end - from;
}

// Whether the line is the last one of a reply with code: "ddd" alone or
// "ddd " and text.
bool EndsReply(const char *line, int32_t length, const char *code)
{
    return length >= 3 && line[0] == code[0] && line[1] == code[1] && line[2] == code[2] &&
           (length == 3 || line[3] == ' ');
}

// Reads one number of 1..3 digits at text[at]; -1 when there is none.
int32_t ReadByteNumber(const std::string &text, size_t &at)
{
    size_t start = at;
    int32_t value = 0;
    while (at < text.size() && IsDigit(text[at]) && at - start < 3)
        value = value * 10 + (text[at++] - '0');
    if (at == start || (at < text.size() && IsDigit(text[at])))
        return -1;
    return value;
}

void SkipBlanks(const std::string &text, size_t &at)
{
    while (at < text.size() && text[at] == ' ')
        ++at;
}

} // namespace

TFtpFrame FrameFtpReply(const char *data, int32_t length, TFtpReply &reply, int32_t &used)
{
    used = 0;
    // Garbage shows in the first bytes; waiting for 64 KiB of it helps nobody.
    for (int32_t i = 0; i < 3 && i < length; ++i)
        if (!IsDigit(data[i]))
            return TFtpFrame::Malformed;
    if (length >= 4 && data[3] != ' ' && data[3] != '-' && data[3] != '\r' && data[3] != '\n')
        return TFtpFrame::Malformed;

    int32_t end = FindLineEnd(data, 0, length);
    if (end < 0)
        return length > kFtpMaxReply ? TFtpFrame::Malformed : TFtpFrame::More;
    int32_t firstLength = LineLength(data, 0, end);
    if (firstLength < 3 || end + 1 > kFtpMaxReply)
        return TFtpFrame::Malformed;
    int32_t code = (data[0] - '0') * 100 + (data[1] - '0') * 10 + (data[2] - '0');
    if (code < 100 || code > 599)
        return TFtpFrame::Malformed;

    int32_t next = end + 1;
    if (firstLength > 3 && data[3] == '-') {
        for (;;) {
            int32_t lineEnd = FindLineEnd(data, next, length);
            if (lineEnd < 0)
                return length > kFtpMaxReply ? TFtpFrame::Malformed : TFtpFrame::More;
            if (lineEnd + 1 > kFtpMaxReply)
                return TFtpFrame::Malformed;
            bool last = EndsReply(data + next, LineLength(data, next, lineEnd), data);
            next = lineEnd + 1;
            if (last)
                break;
        }
    }
    reply.code = code;
    reply.text = firstLength > 4 ? std::string(data + 4, static_cast<size_t>(firstLength - 4)) : std::string();
    used = next;
    return TFtpFrame::Complete;
}

int64_t ParseFtpSize(const std::string &text)
{
    if (text.empty())
        return -1;
    int64_t value = 0;
    for (char c : text) {
        if (!IsDigit(c) || value > (INT64_MAX - (c - '0')) / 10)
            return -1;
        value = value * 10 + (c - '0');
    }
    return value > 0 ? value : -1;
}

int32_t ParsePassiveReply(const std::string &text, uint32_t &host)
{
    std::string inner;
    size_t open = text.find('(');
    if (open != std::string::npos) {
        size_t close = text.find(')', open);
        if (close == std::string::npos)
            return -1;
        inner = text.substr(open + 1, close - open - 1);
    } else {
        // Without parentheses the numbers start at the first digit and run
        // to the first character that cannot belong to them.
        size_t first = text.find_first_of("0123456789");
        if (first == std::string::npos)
            return -1;
        size_t last = text.find_first_not_of("0123456789, ", first);
        inner = text.substr(first, last == std::string::npos ? std::string::npos : last - first);
    }

    int32_t numbers[6];
    size_t at = 0;
    for (int i = 0; i < 6; ++i) {
        SkipBlanks(inner, at);
        numbers[i] = ReadByteNumber(inner, at);
        if (numbers[i] < 0 || numbers[i] > 255)
            return -1;
        SkipBlanks(inner, at);
        if (i < 5) {
            if (at >= inner.size() || inner[at] != ',')
                return -1;
            ++at;
        }
    }
    if (at != inner.size())
        return -1;
    int32_t port = numbers[4] * 256 + numbers[5];
    if (port < 1)
        return -1;
    host = HostToNetwork32(static_cast<uint32_t>(numbers[0]) << 24 | static_cast<uint32_t>(numbers[1]) << 16 |
                           static_cast<uint32_t>(numbers[2]) << 8 | static_cast<uint32_t>(numbers[3]));
    return port;
}
