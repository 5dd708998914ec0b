#pragma once
#include <string>

namespace platform {

// The running program's own file, readable even after it was replaced on
// disk.
std::string OwnProgramPath();

// Writes a program file atomically and makes it executable (0755).
bool WriteProgramFile(const std::string &path, const std::string &contents);

} // namespace platform
