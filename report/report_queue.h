#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/base/qmutex.h"

struct TQueuedReport {
    std::string code;
    std::string fragment;
    int32_t flags = 0;
};

// Reports waiting for the reporting thread. Reporters only append; the thread
// swaps the whole list out, so the lock is never held across a post.
class CReportQueue {
public:
    // A batch carries at most 20 reports, so a flood that piles up while a
    // post stalls would be dropped later anyway; it is cut here instead.
    static constexpr size_t kMaxWaiting = 1024;

    // False when the queue is full and the report was dropped.
    bool Push(TQueuedReport report);
    std::vector<TQueuedReport> TakeAll();

private:
    QSMutex guard;
    std::vector<TQueuedReport> waiting;
};

// The process-wide queue, created on first use.
CReportQueue &ProcessReportQueue();
