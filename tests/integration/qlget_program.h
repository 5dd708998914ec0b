#pragma once
// Runs the built qlget program for end-to-end tests and crash runs.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/child_process.h"
#include "platform/child_wait.h"
#include "platform/run_program.h"
#include "platform/tick.h"
#include "tests/integration/child_exit.h"

// Runs qlget with args to its end; returns its exit status and collects
// what it wrote to both streams in output.
inline int RunQlget(const std::vector<std::string> &args, std::string &output)
{
    std::string command = "exec \"$0\" \"$@\" 2>&1";
    std::vector<std::string> argv{"/bin/sh", "-c", command, QLGET_PROGRAM};
    argv.insert(argv.end(), args.begin(), args.end());
    return platform::RunProgram(argv, &output);
}

// Starts qlget with args in the background; returns its process id.
inline int StartQlget(const std::vector<std::string> &args)
{
    std::vector<std::string> argv{QLGET_PROGRAM};
    argv.insert(argv.end(), args.begin(), args.end());
    return platform::StartChildProcess(argv);
}

// Starts qlget with args in the background, its engine lines shown
// (QUARROWLIGHT_DEBUG_LOG=1) and both streams written to logPath; returns
// its process id (the shell execs into qlget).
inline int StartQlgetLogged(const std::vector<std::string> &args, const std::string &logPath)
{
    std::string command = "log=$1; shift; QUARROWLIGHT_DEBUG_LOG=1 exec \"$0\" \"$@\" >\"$log\" 2>&1";
    std::vector<std::string> argv{"/bin/sh", "-c", command, QLGET_PROGRAM, logPath};
    argv.insert(argv.end(), args.begin(), args.end());
    return platform::StartChildProcess(argv);
}
