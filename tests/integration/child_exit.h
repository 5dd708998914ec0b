#pragma once
#include <cstdint>

#include "platform/child_process.h"
#include "platform/child_wait.h"
#include "platform/tick.h"

// Waits for a child within the limit; one that overstays is stopped and
// counts as failed (-2).
inline int WaitExitWithin(int pid, uint32_t limitMs)
{
    platform::ChildResult result;
    for (uint32_t waited = 0; waited < limitMs; waited += 50) {
        if (platform::ChildHasEnded(pid, result))
            return result.exitCode;
        platform::SleepMs(50);
    }
    platform::StopChildProcess(pid);
    return -2;
}
