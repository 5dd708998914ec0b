#include "app/finish_stamps.h"

#include <cstdint>
#include <cstdio>
#include <utility>
#include <vector>

namespace {

struct TStampKeys {
    std::string names[4];
    std::string values[4];
};

// Write-time high and low halves, then size high and low, in the order they
// are compared.
TStampKeys StampOf(int index, const TFileFacts &facts)
{
    static const char *const kFormats[4] = {
        "QuarrowlightTask%dWriteTimeHigh",
        "QuarrowlightTask%dWriteTimeLow",
        "QuarrowlightTask%dFileSizeHigh",
        "QuarrowlightTask%dFileSizeLow",
    };
    const uint32_t halves[4] = {
        static_cast<uint32_t>(facts.writeTime >> 32),
        static_cast<uint32_t>(facts.writeTime),
        static_cast<uint32_t>(facts.size >> 32),
        static_cast<uint32_t>(facts.size),
    };
    TStampKeys keys;
    for (int k = 0; k < 4; ++k) {
        char text[64];
        std::snprintf(text, sizeof text, kFormats[k], index);
        keys.names[k] = text;
        std::snprintf(text, sizeof text, "%u", halves[k]);
        keys.values[k] = text;
    }
    return keys;
}

} // namespace

CFinishStamps::CFinishStamps(CPackageIni &ini, IAppFileSystem &files) : ini(ini), files(files) {}

bool CFinishStamps::WriteStamp(int index, const std::string &filePath)
{
    TFileFacts facts;
    if (index < 0 || index >= kPackageFileCount || !files.QueryFile(filePath, facts))
        return false;
    const TStampKeys keys = StampOf(index, facts);
    std::vector<std::pair<std::string, std::string>> values;
    for (int k = 0; k < 4; ++k)
        values.emplace_back(keys.names[k], keys.values[k]);
    return ini.WriteValues(kFinishInfoSection, values, true);
}

bool CFinishStamps::CheckStamp(int index, const std::string &filePath, TRecheckList *recheck)
{
    TFileFacts facts;
    bool match = index >= 0 && index < kPackageFileCount && files.QueryFile(filePath, facts);
    if (match) {
        const TStampKeys keys = StampOf(index, facts);
        for (int k = 0; k < 4 && match; ++k)
            match = ini.ReadValue(kFinishInfoSection, keys.names[k]) == keys.values[k];
    }
    if (!match && recheck != nullptr)
        recheck->Add(index);
    return match;
}
