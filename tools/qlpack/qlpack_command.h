#pragma once
#include <ostream>
#include <string>
#include <vector>

// The qlpack command line (args without the program name); returns the exit
// code: 0 done, 1 refused or failed, 2 bad usage.
int RunQlpack(const std::vector<std::string> &args, std::ostream &out, std::ostream &err);
