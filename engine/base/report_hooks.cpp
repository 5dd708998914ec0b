#include "engine/base/report_hooks.h"

#include <mutex>

namespace {
std::mutex hooksLock;
TReportHooks installed;

TReportHooks Current()
{
    std::lock_guard<std::mutex> hold(hooksLock);
    return installed;
}
} // namespace

void SetReportHooks(TReportHooks hooks)
{
    std::lock_guard<std::mutex> hold(hooksLock);
    installed = std::move(hooks);
}

void StopReportThroughHook()
{
    TReportHooks hooks = Current();
    if (hooks.stopReportThread)
        hooks.stopReportThread();
}

std::string ReportIdThroughHook()
{
    TReportHooks hooks = Current();
    return hooks.reportId ? hooks.reportId() : std::string();
}
