#include "engine/core/source_list.h"

namespace {
bool IsTrimmed(char c)
{
    unsigned char code = static_cast<unsigned char>(c);
    return code >= 1 && code <= 32;
}

std::string Trim(const std::string &text)
{
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && IsTrimmed(text[begin]))
        ++begin;
    while (end > begin && IsTrimmed(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}
} // namespace

std::vector<TSourceEntry> SplitSourceList(const char *text)
{
    std::vector<TSourceEntry> entries;
    if (text == nullptr)
        return entries;
    std::string piece;
    for (const char *p = text; *p != '\0'; ++p) {
        if (*p == '\r' || *p == '\n') {
            if (*p == '\r' && p[1] == '\n')
                ++p;
            entries.push_back({Trim(piece), 0});
            piece.clear();
        } else {
            piece.push_back(*p);
        }
    }
    if (!piece.empty())
        entries.push_back({Trim(piece), 0});
    return entries;
}
