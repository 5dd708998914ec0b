#pragma once
#include <cstdint>
#include <string>

#include "engine/net/peer_id.h"

// The longest URL a source, a redirect target or a request may carry.
constexpr size_t kHttpMaxUrlLength = kMaxPeerUrlBytes;

// What one GET of a source names.
struct THttpGet {
    // Everything after the scheme and the host, query included.
    std::string path;
    // The host name only, without a port.
    std::string host;
    // Written after the host unless it is HTTP's default: a server that
    // builds redirects from Host would otherwise send us to port 80.
    int32_t port = 80;
    std::string referer;
    // Above 0: the body is asked for from this byte on, open-ended.
    int64_t position = 0;
    // The validator the source gave before; sent with a ranged request so a
    // server whose file changed answers with the whole new file (200)
    // instead of a range of it.
    std::string ifRange;
};

// The request text, each line ended by "\r\n", then an empty line. Empty when
// a part carries a line break or a control byte, or the path is empty or
// longer than kHttpMaxUrlLength: such a part would forge request lines.
std::string BuildHttpGet(const THttpGet &get);

// The request path of an "http://" URL: after the host, "/" when none.
std::string HttpRequestPath(const std::string &url);
// The URL up to, not including, its last "/" (the folder a link sits in).
std::string HttpRefererOf(const std::string &url);
