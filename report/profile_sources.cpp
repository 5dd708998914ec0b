#include "report/profile_sources.h"

#include "platform/fact_files.h"

std::string TProfileSources::PathOf(const std::string &systemPath) const
{
    std::string base = root;
    while (!base.empty() && base.back() == '/')
        base.pop_back();
    return base + systemPath;
}

bool TProfileSources::ReadFact(const std::string &systemPath, size_t maxBytes, std::string &out) const
{
    return platform::ReadFileBounded(PathOf(systemPath), maxBytes, out);
}

TProfileSources LiveProfileSources()
{
    TProfileSources sources;
    sources.readSystem = [] {
        TSystemSnapshot snapshot;
        platform::QueryKernelIdentity(snapshot.kernel);
        snapshot.adaptersReadable = platform::ListNetworkAdapters(snapshot.adapters);
        snapshot.localeName = platform::CharacterLocaleName();
        return snapshot;
    };
    return sources;
}

std::string TrimFact(const std::string &text)
{
    const char *blanks = " \t\r\n";
    size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos)
        return std::string();
    size_t last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}
