#pragma once
#include <cstdint>
#include <string>

// Redirect hops one source may take before it is given up: a chain of
// ever-new targets would otherwise never end.
constexpr int32_t kHttpMaxRedirectHops = 5;

enum class THttpRedirectVerdict {
    Follow,
    NoLocation,
    // A scheme this engine cannot fetch from (https and the like).
    OtherScheme,
    TooLong,
};

// Turns a Location value into an absolute "http://" or "ftp://" target. A
// relative value becomes "http://" + host + (":" + port unless 80) + ("/"
// unless the value starts with one) + value; "//host/..." takes the "http:"
// scheme. On refusal, target holds a message that says why.
THttpRedirectVerdict ResolveHttpRedirect(const std::string &location, const std::string &host, int32_t port,
                                         std::string &target);
