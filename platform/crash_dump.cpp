#include "platform/crash_dump.h"

#include <execinfo.h>
#include <fcntl.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace platform {

namespace {

constexpr int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
constexpr int kMaxFrames = 64;

// Kept ready before any crash: the handler must not allocate.
char dumpFolder[4096];

void WriteText(int fd, const char *text)
{
    size_t left = std::strlen(text);
    while (left > 0) {
        const ssize_t wrote = write(fd, text, left);
        if (wrote <= 0)
            return;
        text += wrote;
        left -= static_cast<size_t>(wrote);
    }
}

void WriteDump(int signal)
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    localtime_r(&now.tv_sec, &local);
    unsigned seed = static_cast<unsigned>(now.tv_nsec) ^ static_cast<unsigned>(getpid());
    const int r = rand_r(&seed) % 100;
    char path[sizeof dumpFolder + 64];
    std::snprintf(path, sizeof path, "%s%s%04d-%02d-%02d-%02d-%02d-%02d-%02d-%02d.dmp", dumpFolder,
                  dumpFolder[0] != '\0' ? "/" : "", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                  local.tm_hour, local.tm_min, local.tm_sec, static_cast<int>(now.tv_nsec / 1000000), r);
    const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    char head[128];
    std::snprintf(head, sizeof head, "signal %d (%s) in process %d\n", signal, strsignal(signal),
                  static_cast<int>(getpid()));
    WriteText(fd, head);
    void *frames[kMaxFrames];
    const int count = backtrace(frames, kMaxFrames);
    backtrace_symbols_fd(frames, count, fd);
    close(fd);
}

void OnFatalSignal(int signal)
{
    WriteDump(signal);
    // Back to the default action, so the process ends as the signal meant.
    struct sigaction plain {};
    plain.sa_handler = SIG_DFL;
    sigemptyset(&plain.sa_mask);
    sigaction(signal, &plain, nullptr);
    raise(signal);
}

} // namespace

void InstallCrashDumpHandler(const std::string &folder)
{
    std::snprintf(dumpFolder, sizeof dumpFolder, "%s", folder.c_str());
    // The first backtrace loads the unwinder, which allocates: do it now.
    void *frames[1];
    backtrace(frames, 1);
    tzset();
    struct sigaction action {};
    action.sa_handler = OnFatalSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_NODEFER;
    for (int signal : kFatalSignals)
        sigaction(signal, &action, nullptr);
}

} // namespace platform
