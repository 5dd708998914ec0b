#pragma once
#include <string>

#include "report/data_statistics.h"

// The class identifier under which the statistics component is obtained.
inline constexpr const char *kDataStatisticsClassId = "{91095A15-3C46-43b5-BA5F-462064037E59}";

// The process's one statistics component, profiling the running machine,
// created on first request; null when classId (compared without case) names
// another class. The component lives until the process ends.
IDataStatisticsUser *ObtainDataStatistics(const std::string &classId);
