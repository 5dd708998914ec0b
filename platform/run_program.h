#pragma once
#include <string>
#include <vector>

namespace platform {

// Runs a program (found on PATH when argv[0] has no '/') to its end with the
// caller's environment and returns its exit status; -1 when it could not be
// started or did not exit normally. With output, its standard output is
// collected there instead of being inherited.
int RunProgram(const std::vector<std::string> &argv, std::string *output = nullptr);

} // namespace platform
