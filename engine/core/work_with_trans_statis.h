#pragma once
#include <cstdint>

#include "engine/core/work_with_pieces.h"

// The statistics layer of a task: transfer rates, speed limits and the
// per-second tick that the main loop drives.
class TWorkWithTransStatis : public TWorkWithPieces {
public:
    // The task clock: engine time recorded by the last tick (0 before it).
    int64_t taskClock = 0;
    // Milliseconds the main loop sleeps per round.
    uint32_t roundPause = 6;
    // Set by a tick that changed what the interface shows.
    bool refreshRequested = false;

    void Reset(bool release, bool full) override;

    // Once a second; records the task clock.
    virtual void StatTick(bool complete);
    // Every three seconds: per-connection rates and choking.
    virtual void RateRound() {}
    // Every 20 s while the size is known the task saves its state; the
    // statistics layer decides when.
    virtual void PeriodicSave() {}
    // Every 5 s: hands the cache budget to the data file.
    virtual void HandOverCacheBudget() {}
};
