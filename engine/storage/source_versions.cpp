#include "engine/storage/source_versions.h"

namespace {
bool Plain(const std::string &part)
{
    for (unsigned char c : part)
        if (c < 0x20 || c == 0x7F)
            return false;
    return true;
}
} // namespace

std::string EncodeSourceVersions(const TSourceVersions &versions)
{
    std::string text = versions.firstUrl + "\n";
    for (const auto &[url, validator] : versions.validators)
        text += url + "\t" + validator + "\n";
    return text;
}

bool DecodeSourceVersions(const std::string &text, TSourceVersions &out)
{
    out = TSourceVersions();
    TSourceVersions read;
    size_t at = 0;
    bool first = true;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos)
            return false;
        std::string line = text.substr(at, end - at);
        at = end + 1;
        if (first) {
            if (!Plain(line))
                return false;
            read.firstUrl = line;
            first = false;
            continue;
        }
        size_t tab = line.find('\t');
        if (tab == std::string::npos || tab == 0 || tab + 1 == line.size())
            return false;
        std::string url = line.substr(0, tab);
        std::string validator = line.substr(tab + 1);
        if (!Plain(url) || !Plain(validator) || read.validators.size() >= TSourceVersions::kMaxSources)
            return false;
        read.validators[url] = validator;
    }
    out = std::move(read);
    return true;
}
