#pragma once
#include <string>

// The English reason for a failed open of the installer, by the shell's
// error number; "Unknown open failed" for a number it does not name.
std::string InstallerOpenFailureText(int code);
