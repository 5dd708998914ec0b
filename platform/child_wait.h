#pragma once
#include <cstdint>

namespace platform {

// How a child process ended and what it used.
struct ChildResult {
    int exitCode = -1;        // -1 when it ended by a signal
    double cpuSeconds = 0;    // user + system time
    int64_t peakResidentKb = 0;
};

// Waits for the child to end and collects it; false when pid is no child of
// ours.
bool WaitChild(int pid, ChildResult &result);

// Collects the child when it has ended; false while it still runs (or when
// pid is no child of ours).
bool ChildHasEnded(int pid, ChildResult &result);

} // namespace platform
