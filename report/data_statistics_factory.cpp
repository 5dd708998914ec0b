#include "report/data_statistics_factory.h"

#include <cctype>
#include <memory>

namespace {
bool SameClassId(const std::string &a, const std::string &b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}
} // namespace

IDataStatisticsUser *ObtainDataStatistics(const std::string &classId)
{
    if (!SameClassId(classId, kDataStatisticsClassId))
        return nullptr;
    // Never destroyed: a report thread still running at exit must not meet a
    // dead component.
    static auto *component = new CDataStatisticsImp(std::make_unique<CMachineProfile>(LiveProfileSources()));
    return component;
}
