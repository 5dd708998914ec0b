// Stop signals: each asks the program to stop instead of killing it, so
// that it can save its work first.
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/stop_signals.h"

namespace {

// In a child process, so that every signal meets freshly installed handlers
// and a fault kills only the child: the exit status says what happened.
int StatusAfterSignal(int signal)
{
    const pid_t child = fork();
    if (child == 0) {
        platform::CatchStopSignals();
        raise(signal);
        _exit(platform::StopSignalCaught());
    }
    int status = 0;
    waitpid(child, &status, 0);
    return status;
}

TEST(StopSignals, HangupInterruptAndTerminateAskToStop)
{
    for (int signal : {SIGHUP, SIGINT, SIGTERM}) {
        const int status = StatusAfterSignal(signal);
        ASSERT_TRUE(WIFEXITED(status)) << strsignal(signal) << " killed the program";
        EXPECT_EQ(WEXITSTATUS(status), signal);
    }
}

} // namespace
