#pragma once
#include <vector>

namespace platform {

// Waits up to timeoutMs for any of the sockets to have data (or an error or
// hang-up) to read. 1 when one is ready, 0 on time-out or when the list is
// empty (after sleeping the time-out), -1 when the wait failed.
int WaitAnyReadable(const std::vector<int> &fds, int timeoutMs);

} // namespace platform
