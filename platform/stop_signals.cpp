#include "platform/stop_signals.h"

#include <csignal>

namespace platform {
namespace {
volatile std::sig_atomic_t caught = 0;

void OnStopSignal(int signal)
{
    caught = signal;
    // The next one is not caught: a stop that hangs can still be forced.
    std::signal(signal, SIG_DFL);
}
} // namespace

void CatchStopSignals()
{
    struct sigaction action = {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // A closed terminal must not cost the work since the last save.
    sigaction(SIGHUP, &action, nullptr);
}

int StopSignalCaught()
{
    return caught;
}

} // namespace platform
