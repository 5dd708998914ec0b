#pragma once
#include <cstdint>
#include <vector>

#include "engine/base/ref_handle.h"

class TPeerId;
class TPeerObject;

// What the piece scheduler reads of the peer pool and the worker around it.
class ISchedulerPool {
public:
    virtual const std::vector<TRef<TPeerObject>> &Connections() = 0;
    virtual const std::vector<TRef<TPeerId>> &Candidates() = 0;
    // Engine time of the last statistics tick; ranges are stamped with it.
    virtual int64_t TaskClock() = 0;
    // The worker is winding down: returned blocks are dropped.
    virtual bool IsStopping() = 0;
    // Engine seconds since the worker started.
    virtual uint32_t SecondsRunning() = 0;

protected:
    ~ISchedulerPool() = default;
};
