#include "platform/socket_wait.h"

#include <cerrno>
#include <poll.h>

#include "platform/tick.h"

namespace platform {

int WaitAnyReadable(const std::vector<int> &fds, int timeoutMs)
{
    if (fds.empty()) {
        if (timeoutMs > 0)
            SleepMs(static_cast<uint32_t>(timeoutMs));
        return 0;
    }
    std::vector<pollfd> polled;
    polled.reserve(fds.size());
    for (int fd : fds)
        polled.push_back({fd, POLLIN, 0});
    for (;;) {
        int ready = poll(polled.data(), polled.size(), timeoutMs);
        if (ready >= 0)
            return ready > 0 ? 1 : 0;
        if (errno != EINTR)
            return -1;
    }
}

} // namespace platform
