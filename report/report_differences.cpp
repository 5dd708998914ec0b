#include "report/report_differences.h"

namespace {
uint64_t Grow(uint64_t current, uint64_t &previous)
{
    if (current == 0)
        return 0;
    uint64_t growth = current > previous ? current - previous : 0;
    previous = current;
    return growth;
}
} // namespace

TReportDeltas CReportDifferences::Take(const TReportFields &fields)
{
    QAutoLock hold(guard);
    TReportDeltas deltas;
    deltas.inTime = Grow(fields.totalTime, previousTime);
    deltas.inTotalBytes = Grow(fields.totalBytes, previousTotalBytes);
    deltas.inHttpTotalBytes = Grow(fields.httpTotalBytes, previousHttpTotalBytes);
    deltas.inP2pTotalBytes = Grow(fields.p2pTotalBytes, previousP2pTotalBytes);
    return deltas;
}

CReportDifferences &ProcessReportDifferences()
{
    // Never destroyed: a report racing process exit must not meet a dead lock.
    static auto *differences = new CReportDifferences;
    return *differences;
}
