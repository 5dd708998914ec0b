#pragma once
#include "app/package_report.h"

// The real download report.
class CReportBinding : public IPackageReport {
public:
    void Collect(const std::string &configPath, const std::string &gameId, const std::string &appVersion,
                 const std::string &gameVersion, const std::string &channel) override;
    void EventWithStats(const TStatsReport &report) override;
    void Event(const std::string &code, const std::string &text, int32_t flags) override;
    void FileEvent(const std::string &code, const std::string &fileName, const std::string &text) override;
    void Stop() override;
    std::string Identification() override;
};
