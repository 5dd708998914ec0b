#pragma once
#include <cstdint>

#include "engine/base/qmutex.h"
#include "report/report_fragment.h"

// The previous non-zero value of each running total (time, all bytes, HTTP
// bytes, peer bytes), shared by every report of every file. Reporters on
// several threads go through one lock, so each difference is taken against
// exactly one predecessor.
class CReportDifferences {
public:
    // The growth of each total since its previous non-zero value: 0 when the
    // total is 0 (the previous value stays) or not larger (it becomes the new
    // base).
    TReportDeltas Take(const TReportFields &fields);

private:
    QSMutex guard;
    uint64_t previousTime = 0;
    uint64_t previousTotalBytes = 0;
    uint64_t previousHttpTotalBytes = 0;
    uint64_t previousP2pTotalBytes = 0;
};

// The process-wide instance the report operations use.
CReportDifferences &ProcessReportDifferences();
