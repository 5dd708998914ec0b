#include "engine/core/work_with_trans_statis.h"

#include "engine/core/engine_clock.h"

void TWorkWithTransStatis::Reset(bool release, bool full)
{
    TWorkWithPieces::Reset(release, full);
    taskClock = 0;
    roundPause = 6;
    refreshRequested = false;
}

void TWorkWithTransStatis::StatTick(bool)
{
    taskClock = EngineTime();
    refreshRequested = true;
}
