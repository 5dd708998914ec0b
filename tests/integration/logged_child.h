#pragma once
// Programs started with their output in a log file, in a network namespace
// or in the caller's, and waits on what they write there.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/child_process.h"
#include "platform/read_file.h"
#include "platform/tick.h"
#include "tests/integration/network_namespace.h"

inline std::string ReadLog(const std::filesystem::path &log)
{
    std::string text;
    platform::ReadWholeFile(log.string(), 1 << 20, text);
    return text;
}

// True once log holds text, false after 20 s without it.
inline bool WaitForText(const std::filesystem::path &log, const std::string &text)
{
    for (uint32_t waited = 0; waited < 20000; waited += 20) {
        if (ReadLog(log).find(text) != std::string::npos)
            return true;
        platform::SleepMs(20);
    }
    return false;
}

// Starts argv in namespace space (the caller's when empty) with the
// variables in env set, both of its streams in log; its process id.
inline int StartLogged(const std::string &space, const std::filesystem::path &log,
                       const std::vector<std::string> &argv, const std::vector<std::string> &env = {})
{
    if (!space.empty())
        return StartInNamespace(space, log, argv, env);
    std::vector<std::string> command{"/usr/bin/env"};
    command.insert(command.end(), env.begin(), env.end());
    command.insert(command.end(), {"/bin/sh", "-c", "exec \"$0\" \"$@\" >\"" + log.string() + "\" 2>&1"});
    command.insert(command.end(), argv.begin(), argv.end());
    return platform::StartChildProcess(command);
}
