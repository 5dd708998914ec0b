#pragma once
#include <string>

// The collection server's form encoding: ASCII letters and digits stay, a
// blank becomes '_', every other byte becomes '%' and two upper-case hex digits.
std::string FormEncode(const std::string &bytes);
