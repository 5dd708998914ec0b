#pragma once
#include "engine/core/work_with_pieces.h"

// The statistics layer of a task: transfer rates, speed limits and the
// per-second tick.
class TWorkWithTransStatis : public TWorkWithPieces {
public:
    void Reset(bool release, bool full) override;
};
