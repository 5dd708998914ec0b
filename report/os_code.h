#pragma once
#include <string>

#include "report/profile_sources.h"

// The operating-system code: the kernel release's first two numbers and a
// service pack of "0" ("999" when the release tells no number), then "64" on
// x86_64 and ia64 or "32" elsewhere, then the character-set class: "0" for a
// Chinese locale, "2" otherwise (the system's code page is UTF-8).
// "6.1.0-18-amd64" on x86_64 under "zh_CN.UTF-8" gives "610640".
std::string ComposeOsCode(const TSystemSnapshot &snapshot);
