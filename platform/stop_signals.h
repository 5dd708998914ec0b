#pragma once
// SIGINT, SIGTERM and SIGHUP as a stop request that a program's loop polls,
// so the program can stop its work cleanly instead of dying mid-write.
namespace platform {

// Installs the handlers; a second signal of the same kind still ends the
// process at once, for a user whose clean stop hangs.
void CatchStopSignals();

// The signal number that asked to stop, or 0.
int StopSignalCaught();

} // namespace platform
