#pragma once
#include <string>

// Host names under the reserved ".invalid" domain (any case, a trailing dot
// allowed) are the built-in placeholders of an unstamped program: nothing
// ever looks them up or sends to them.
bool IsReservedHostName(const std::string &host);
