#pragma once
#include <cstdint>
#include <string>
#include <vector>

// The head of one HTTP answer: status line parts and header lines. The head is
// bounded: a server that sends more than kMaxBytes without ending it is
// refused instead of being buffered.
class THttpResponseHeader {
public:
    static constexpr int32_t kMaxBytes = 64 * 1024;

    std::vector<std::string> lines;
    int32_t statusCode = 0;
    std::string version;
    std::string reason;
    bool caseSensitive = false;
    char separator = ':';

    // Length of the head including its blank line: it ends at the first "\n"
    // followed by "\r\n" or "\n". 0 while incomplete, -1 when no end lies
    // within kMaxBytes.
    static int32_t FindEnd(const char *data, int32_t length);

    // Parses exactly the head bytes FindEnd measured.
    void Parse(const char *data, int32_t length);
    void Clear();

    // The value of the first line named name (optional blanks before the
    // separator), leading blanks removed; false when there is none.
    bool Find(const std::string &name, std::string &value) const;
    // The values of every line named name, in order.
    std::vector<std::string> FindAll(const std::string &name) const;

private:
    // Where the value of line starts when it is named name, else npos.
    size_t ValueStart(const std::string &line, const std::string &name) const;
    void ParseStatusLine(const std::string &line);
};
