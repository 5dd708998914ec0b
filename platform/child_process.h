#pragma once
#include <string>
#include <vector>

namespace platform {

// Starts a program (argv[0] is its path) with the caller's environment;
// returns its process id, or -1 when it could not be started.
int StartChildProcess(const std::vector<std::string> &argv);

// Asks the child with this id to end (SIGTERM), then SIGKILL when it has not
// ended within graceMs, and collects it. False when pid is no child of ours.
bool StopChildProcess(int pid, unsigned graceMs = 2000);

// Sends SIGINT, as Ctrl-C in a terminal does; the caller collects the child.
bool InterruptChildProcess(int pid);

// Freezes the child (SIGSTOP), as a hung server; ResumeChildProcess
// (SIGCONT) lets it go on.
bool PauseChildProcess(int pid);
bool ResumeChildProcess(int pid);

// Ends the child at once (SIGKILL), as a crash or a power cut would, and
// collects it.
bool KillChildProcess(int pid);

} // namespace platform
