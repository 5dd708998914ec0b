#include "report/report_queue.h"

#include <utility>

bool CReportQueue::Push(TQueuedReport report)
{
    QAutoLock hold(guard);
    if (waiting.size() >= kMaxWaiting)
        return false;
    waiting.push_back(std::move(report));
    return true;
}

std::vector<TQueuedReport> CReportQueue::TakeAll()
{
    std::vector<TQueuedReport> taken;
    QAutoLock hold(guard);
    taken.swap(waiting);
    return taken;
}

CReportQueue &ProcessReportQueue()
{
    // Never destroyed, like the other process-wide report state.
    static auto *queue = new CReportQueue;
    return *queue;
}
