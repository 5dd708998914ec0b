#pragma once
#include <string>

namespace platform {

// Installs the handler for fatal signals (SIGSEGV, SIGBUS, SIGFPE, SIGILL,
// SIGABRT): it writes the signal and a backtrace to a file named
// "YYYY-MM-DD-hh-mm-ss-ms-rr.dmp" (local time, milliseconds, a random
// number below 100) in folder, or in the current directory when folder is
// empty, then lets the signal end the process as it would have.
void InstallCrashDumpHandler(const std::string &folder = std::string());

} // namespace platform
