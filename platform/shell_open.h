#pragma once
#include <string>

namespace platform {

// Opens a file the way the desktop shell would: an executable file is
// started (working folder as given), anything else goes to xdg-open. The
// result follows the Windows shell's convention: above 32 on success, else
// one of its small error numbers (2 file not found, 3 path not found,
// 5 access denied, 8 out of memory, 11 invalid executable, 26 sharing
// violation, 31 no associated application; 0 for anything else).
int ShellOpen(const std::string &path, const std::string &workFolder);

// The error number a failed start with this errno value stands for.
int ShellCodeOfErrno(int error);

} // namespace platform
