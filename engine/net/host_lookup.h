#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The one door through which the engine asks the system for a host name's
// IPv4 addresses. Returns 0 and appends the addresses (network order), or a
// Winsock number (11001 host not found, 11004 no data ...).
int32_t LookupHost(const std::string &host, std::vector<uint32_t> &addresses);

// Names under the reserved ".invalid" domain (IsReservedHostName) are refused
// (11001) without asking the system.

// Replaces the system look-up, so resolver tests never leave the machine; an
// empty function restores it.
using THostLookup = std::function<int32_t(const std::string &, std::vector<uint32_t> &)>;
void SetHostLookup(THostLookup lookup);
