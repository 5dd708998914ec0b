#include "platform/wake_fd.h"

#include <cstdint>
#include <sys/eventfd.h>
#include <unistd.h>

namespace platform {

int OsWakeFdOpen()
{
    return ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

void OsWakeFdSignal(int fd)
{
    const uint64_t one = 1;
    // A full counter already reads as signalled.
    [[maybe_unused]] ssize_t written = ::write(fd, &one, sizeof one);
}

void OsWakeFdDrain(int fd)
{
    uint64_t count = 0;
    [[maybe_unused]] ssize_t read = ::read(fd, &count, sizeof count);
}

void OsWakeFdClose(int fd)
{
    if (fd >= 0)
        ::close(fd);
}

} // namespace platform
