#pragma once
#include "engine/net/task_announce.h"
#include "engine/net/task_meters.h"
#include "engine/net/task_piece_store.h"
#include "engine/net/task_pool.h"
#include "engine/net/task_scheduling.h"
#include "engine/net/task_swarm.h"

// What a peer object holds of the task that owns it: one interface per role,
// so a new peer kind asks only what its role offers. The task's worker calls
// the peers, and the peers call back only through these, on the same thread.
class IPeerTask {
public:
    virtual ITaskMeters &Meters() = 0;
    virtual ITaskPieceStore &Store() = 0;
    virtual ITaskScheduling &Scheduling() = 0;
    virtual ITaskPool &Pool() = 0;
    virtual ITaskAnnounce &Announce() = 0;
    virtual ITaskSwarm &Swarm() = 0;

protected:
    ~IPeerTask() = default;
};
