#pragma once
#include <string>

inline constexpr long kExpiryFetchSeconds = 2;

// Asks the resource list at listUrl whether this build has expired; an
// unreachable or garbled list costs at most kExpiryFetchSeconds and counts as
// not expired. caFile: trusted certificates instead of the system's (tests).
bool ReadExpiry(const std::string &listUrl, std::string &message, std::string &page,
                const std::string &caFile = std::string());
