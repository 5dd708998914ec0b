#pragma once
#include <cstddef>
#include <functional>
#include <string>

// One HTTP(S) GET of a small text document (the publisher's resource list).
// Certificates and host names are verified against the system's store; a body
// above kMaxFetchedTextBytes, a redirect to anything but http or https, more
// than kMaxFetchRedirects redirects and hosts under ".invalid" fail without
// reaching further.
struct TTextFetch {
    std::string url;
    // Limit of the whole fetch, redirects included; the connect also ends
    // within kFetchConnectSeconds.
    long timeLimitSeconds = 60;
    // Trusted certificates instead of the system's store (tests only).
    std::string caFile;
    // Polled while the transfer runs; true ends it as a failure.
    std::function<bool()> cancelled;
};

inline constexpr size_t kMaxFetchedTextBytes = 1024 * 1024;
inline constexpr int kMaxFetchRedirects = 5;
inline constexpr long kFetchConnectSeconds = 10;

// True with the body when the transfer worked and the answer is not 400 to
// 599; otherwise error holds "Failed to get " + the URL ("no URL", without
// a word on standard error, when the URL is empty). code is the last
// answer's HTTP code (0 without one).
bool FetchText(const TTextFetch &request, std::string &body, std::string &error, long &code);
