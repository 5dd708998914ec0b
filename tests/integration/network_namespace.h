#pragma once
// Running programs inside network namespaces a test makes itself. Children
// are started without a PATH search, so every program is named by its
// absolute path.
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/child_process.h"
#include "platform/run_program.h"

inline const std::string kIpProgram = "/usr/sbin/ip";

// Namespaces need root and iproute2; tests skip without them.
inline bool NamespacesAvailable()
{
    return geteuid() == 0 && std::filesystem::exists(kIpProgram);
}

// Runs argv to its end, its output kept in output when given; true when it
// exited with 0.
inline bool RunQuietly(const std::vector<std::string> &argv, std::string *output = nullptr)
{
    std::string ignored;
    return platform::RunProgram(argv, output != nullptr ? output : &ignored) == 0;
}

// Runs a shell script inside namespace ns; true when it exited with 0.
inline bool RunInNamespace(const std::string &ns, const std::string &script, std::string *output = nullptr)
{
    return RunQuietly({kIpProgram, "netns", "exec", ns, "/bin/sh", "-c", script}, output);
}

// Starts argv inside namespace ns with the variables in env set, both of its
// streams in log; returns its process id (every step execs into the next).
inline int StartInNamespace(const std::string &ns, const std::filesystem::path &log,
                            const std::vector<std::string> &argv, const std::vector<std::string> &env = {})
{
    std::vector<std::string> command{kIpProgram, "netns", "exec", ns, "/usr/bin/env"};
    command.insert(command.end(), env.begin(), env.end());
    command.insert(command.end(), {"/bin/sh", "-c", "exec \"$0\" \"$@\" >\"" + log.string() + "\" 2>&1"});
    command.insert(command.end(), argv.begin(), argv.end());
    return platform::StartChildProcess(command);
}
