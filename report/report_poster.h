#pragma once
#include <cstddef>
#include <string>

// One form POST of a report batch to one collection URL.
struct TReportPost {
    bool sent = false;    // false: the URL was refused before any network use
    std::string response; // the response body, at most kMaxResponseBytes
};

inline constexpr size_t kMaxResponseBytes = 64 * 1024;
inline constexpr long kReportTimeoutSeconds = 6;

// Whether a URL names no host we may ask for: unparsable, or a name under the
// reserved ".invalid" domain that unstamped builds carry.
bool IsRefusedReportUrl(const std::string &url);

// POSTs body (already form-encoded) over HTTP or HTTPS with 6 s connect and
// total time-outs; only the collected response text matters, not the
// transfer's result code.
TReportPost PostReportForm(const std::string &url, const std::string &body);
