#include "platform/child_wait.h"

#include <cerrno>
#include <sys/resource.h>
#include <sys/wait.h>

namespace platform {

namespace {
bool Collect(int pid, int options, ChildResult &result)
{
    int status = 0;
    rusage usage{};
    pid_t done;
    do {
        done = wait4(pid, &status, options, &usage);
    } while (done < 0 && errno == EINTR);
    if (done != pid)
        return false;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                        static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    result.peakResidentKb = usage.ru_maxrss;
    return true;
}
} // namespace

bool WaitChild(int pid, ChildResult &result)
{
    return Collect(pid, 0, result);
}

bool ChildHasEnded(int pid, ChildResult &result)
{
    return Collect(pid, WNOHANG, result);
}

} // namespace platform
