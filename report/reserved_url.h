#pragma once
#include <string>

// Whether a URL names no host we may ask for: unparsable, without a host, or
// a name under the reserved ".invalid" domain that unstamped builds carry.
// Read with libcurl's own URL parser, so the host checked is the host libcurl
// would look up.
bool IsReservedUrl(const std::string &url);
