#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "engine/core/engine_interface.h"

// What qlget tells about the sources while it follows a task: each source
// given up, each time the data is begun again because the file changed on
// the server, and, every 30 s while no byte arrives, the last failure (the
// engine keeps retrying; the user should know why nothing moves).
class TQlgetNotices {
public:
    static constexpr uint32_t kReminderMs = 30000;

    // The lines to print for this reading of the task, taken at nowMs.
    std::vector<std::string> Take(const TTaskDetail &detail, uint32_t nowMs);

private:
    bool started = false;
    uint32_t restarts = 0;
    uint32_t givenUp = 0;
    uint64_t bytes = 0;
    // Since when no byte arrived, and when the failure was last told.
    uint32_t quietSince = 0;
    uint32_t lastTold = 0;
};
