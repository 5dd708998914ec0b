#pragma once
#include <cstdint>
#include <string>
#include <vector>

// What a timed look-up found: at most kMostResolvedAddresses IPv4 addresses
// (network order, 4 bytes each), and the Winsock number of a failure.
constexpr size_t kMostResolvedAddresses = 256;

struct TResolveResult {
    std::vector<uint32_t> addresses;
    int32_t addressLength = 0;
    int32_t error = 0;
};

// Looks a host up on a short-lived worker thread and waits at most timeoutMs
// for it, so a task thread is never held by a slow name server. True when the
// look-up succeeded in time. A missing host or a time-out of 0 fails with 87;
// a look-up that does not finish in time fails with 10060 and its late
// result is dropped.
bool ResolveWithTimeout(const std::string &host, TResolveResult &result, uint32_t timeoutMs);
