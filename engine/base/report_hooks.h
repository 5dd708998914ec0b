#pragma once
#include <functional>
#include <string>

// The download report sits above the log it writes to, so the log and the
// message helper reach it through these hooks, which the report fills in.
struct TReportHooks {
    std::function<void()> stopReportThread; // stop and delete the upload thread, if any
    std::function<std::string()> reportId;   // the report's id, empty when it has none
};

void SetReportHooks(TReportHooks hooks);
void StopReportThroughHook();
std::string ReportIdThroughHook();
