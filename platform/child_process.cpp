#include "platform/child_process.h"

#include <cerrno>
#include <csignal>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/tick.h"

extern char **environ;

namespace platform {

int StartChildProcess(const std::vector<std::string> &argv)
{
    if (argv.empty())
        return -1;
    std::vector<char *> args;
    for (const auto &arg : argv)
        args.push_back(const_cast<char *>(arg.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, args[0], nullptr, nullptr, args.data(), environ) != 0)
        return -1;
    return static_cast<int>(pid);
}

bool StopChildProcess(int pid, unsigned graceMs)
{
    if (pid <= 0 || kill(pid, SIGTERM) != 0)
        return false;
    constexpr unsigned kStepMs = 10;
    for (unsigned waited = 0; waited < graceMs; waited += kStepMs) {
        pid_t done = waitpid(pid, nullptr, WNOHANG);
        if (done == pid)
            return true;
        if (done < 0 && errno != EINTR)
            return false;
        SleepMs(kStepMs);
    }
    return KillChildProcess(pid);
}

bool InterruptChildProcess(int pid)
{
    return pid > 0 && kill(pid, SIGINT) == 0;
}

bool PauseChildProcess(int pid)
{
    return pid > 0 && kill(pid, SIGSTOP) == 0;
}

bool ResumeChildProcess(int pid)
{
    return pid > 0 && kill(pid, SIGCONT) == 0;
}

bool KillChildProcess(int pid)
{
    if (pid <= 0 || kill(pid, SIGKILL) != 0)
        return false;
    while (waitpid(pid, nullptr, 0) < 0) {
        if (errno != EINTR)
            return false;
    }
    return true;
}

} // namespace platform
