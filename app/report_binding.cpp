#include "app/report_binding.h"

#include "report/download_report.h"

void CReportBinding::Collect(const std::string &configPath, const std::string &gameId, const std::string &appVersion,
                             const std::string &gameVersion, const std::string &channel)
{
    CollectDataUpload(configPath, gameId, appVersion, gameVersion, channel);
}

void CReportBinding::EventWithStats(const TStatsReport &r)
{
    ReportEventWithStats(r.code, "", "", r.totalTime, r.totalBytes, r.averageSpeed, r.progress, r.httpTotalBytes,
                         r.httpAverageSpeed, r.p2pTotalBytes, r.p2pAverageSpeed, 0, "", "", r.errorMsg, 0);
}

void CReportBinding::Event(const std::string &code, const std::string &text, int32_t flags)
{
    ReportEvent(code, text, flags);
}

void CReportBinding::FileEvent(const std::string &code, const std::string &fileName, const std::string &text)
{
    ReportFileEvent(code, fileName, text);
}

void CReportBinding::Stop()
{
    StopReportThread();
}

std::string CReportBinding::Identification()
{
    return ReportIdentification();
}
