#pragma once
#include <cstdint>
#include <string>

// The blocking resolver: a dotted address is taken as it is; a name is looked
// up unless it is in the negative cache, and a name the system does not know
// (11001) goes into that cache. Returns the first IPv4 (network order), or
// kNoAddress.
uint32_t Resolve(const std::string &name);
