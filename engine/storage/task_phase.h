#pragma once
#include <cstdint>

// The phases of a task as the interface reports them; the metainfo parser
// moves its owner through the middle two.
enum : int32_t {
    TASK_PHASE_IDLE = 1,
    TASK_PHASE_METAINFO = 3,
    TASK_PHASE_DOWNLOADING = 4,
};
