#include "engine/net/http_body_frame.h"

#include <vector>

namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

std::string Trimmed(const std::string &text)
{
    size_t from = 0;
    size_t to = text.size();
    while (from < to && IsBlank(text[from]))
        ++from;
    while (to > from && IsBlank(text[to - 1]))
        --to;
    return text.substr(from, to - from);
}

std::string Lower(std::string text)
{
    for (char &c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// Reads digits at text[at...]; false without any or beyond the cap.
bool ReadNumber(const std::string &text, size_t &at, int64_t &number)
{
    size_t start = at;
    int64_t value = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
        int digit = text[at] - '0';
        if (value > (kHttpMaxByteCount - digit) / 10)
            return false;
        value = value * 10 + digit;
        ++at;
    }
    number = value;
    return at > start;
}

void SkipBlanks(const std::string &text, size_t &at)
{
    while (at < text.size() && IsBlank(text[at]))
        ++at;
}

// The single value of a header that may appear several times only when every
// copy says the same. False when the copies disagree.
bool SingleValue(const THttpResponseHeader &header, const char *name, std::string &value, bool &present)
{
    std::vector<std::string> values = header.FindAll(name);
    present = !values.empty();
    if (!present)
        return true;
    value = Trimmed(values.front());
    for (const std::string &other : values)
        if (Trimmed(other) != value)
            return false;
    return true;
}

} // namespace

bool ParseByteCount(const std::string &value, int64_t &count)
{
    std::string text = Trimmed(value);
    size_t at = 0;
    return ReadNumber(text, at, count) && at == text.size();
}

bool ParseContentRange(const std::string &value, int64_t &first, int64_t &last, int64_t &total)
{
    std::string text = Trimmed(value);
    if (Lower(text.substr(0, 5)) != "bytes")
        return false;
    size_t at = 5;
    if (at >= text.size() || !IsBlank(text[at]))
        return false;
    SkipBlanks(text, at);
    if (!ReadNumber(text, at, first))
        return false;
    SkipBlanks(text, at);
    if (at >= text.size() || text[at] != '-')
        return false;
    ++at;
    SkipBlanks(text, at);
    if (!ReadNumber(text, at, last) || first > last)
        return false;
    SkipBlanks(text, at);
    if (at >= text.size() || text[at] != '/')
        return false;
    ++at;
    SkipBlanks(text, at);
    if (at < text.size() && text[at] == '*') {
        total = -1;
        ++at;
    } else if (!ReadNumber(text, at, total) || last >= total) {
        return false;
    }
    return at == text.size();
}

std::string DispositionFileName(const std::string &value)
{
    const std::string key = "filename=";
    size_t at = Lower(value).find(key);
    if (at == std::string::npos)
        return std::string();
    at += key.size();
    bool quoted = at < value.size() && value[at] == '"';
    if (quoted)
        ++at;
    size_t end = value.find(';', at);
    std::string name = value.substr(at, end == std::string::npos ? std::string::npos : end - at);
    name = Trimmed(name);
    if (quoted && !name.empty() && name.back() == '"')
        name.pop_back();
    return name;
}

bool DescribeHttpBody(const THttpResponseHeader &header, THttpBodyFrame &frame, std::string &problem)
{
    frame = THttpBodyFrame();
    std::string coding;
    bool present = false;
    if (!SingleValue(header, "Transfer-Encoding", coding, present)) {
        problem = "conflicting Transfer-Encoding";
        return false;
    }
    if (present) {
        coding = Lower(coding);
        if (coding == "chunked")
            frame.chunked = true;
        else if (coding != "identity") {
            problem = "unsupported Transfer-Encoding " + coding;
            return false;
        }
    }
    // Compressed bytes stored at file offsets would corrupt the file.
    std::string encoding;
    if (!SingleValue(header, "Content-Encoding", encoding, present)) {
        problem = "conflicting Content-Encoding";
        return false;
    }
    if (present && !encoding.empty() && Lower(encoding) != "identity") {
        problem = "unsupported Content-Encoding " + encoding;
        return false;
    }

    std::string range;
    if (!SingleValue(header, "Content-Range", range, frame.hasRange)) {
        problem = "conflicting Content-Range";
        return false;
    }
    if (frame.hasRange) {
        int64_t last = 0;
        if (!ParseContentRange(range, frame.start, last, frame.total)) {
            problem = "malformed Content-Range " + range;
            return false;
        }
        frame.length = last - frame.start + 1;
    } else if (header.statusCode == 206) {
        // Several ranges in one multipart body: never asked for.
        problem = "206 without a single Content-Range";
        return false;
    }

    std::string lengthText;
    if (!SingleValue(header, "Content-Length", lengthText, frame.hasLength)) {
        problem = "conflicting Content-Length";
        return false;
    }
    // A chunked body ignores Content-Length.
    if (frame.hasLength && !frame.chunked) {
        int64_t length = 0;
        if (!ParseByteCount(lengthText, length)) {
            problem = "malformed Content-Length " + lengthText;
            return false;
        }
        if (frame.hasRange && length != frame.length) {
            problem = "Content-Length " + lengthText + " disagrees with Content-Range " + range;
            return false;
        }
        frame.length = length;
        if (!frame.hasRange)
            frame.total = length;
    } else {
        frame.hasLength = false;
    }
    return true;
}
