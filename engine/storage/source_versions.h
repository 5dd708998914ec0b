#pragma once
#include <map>
#include <string>

// Which version of the file each HTTP source served while the task's data
// was being written, so a resumed task never joins bytes of two versions:
// the main source the data was begun from, and per source URL the
// validator its answers carried (each mirror has its own).
struct TSourceVersions {
    std::string firstUrl;
    std::map<std::string, std::string> validators;

    // Sources kept at most; a task has a handful of mirrors.
    static constexpr size_t kMaxSources = 256;

    bool Empty() const { return firstUrl.empty() && validators.empty(); }
};

// The state file's "versions" value: the first URL on the first line, then a
// line "URL<TAB>validator" per source. Neither part can hold a line break or
// a tab: URLs and validators with control bytes are refused before they get
// here.
std::string EncodeSourceVersions(const TSourceVersions &versions);
// False, with out cleared, when a line is malformed, a part holds a control
// byte, or there are more than kMaxSources sources.
bool DecodeSourceVersions(const std::string &text, TSourceVersions &out);
