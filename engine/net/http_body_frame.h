#pragma once
#include <cstdint>
#include <string>

#include "engine/net/http_response_header.h"

// Where the body of a successful answer lies in the file and how it is
// framed, read from the answer's head. Every number comes from the network,
// so each one is checked before anything is stored at an offset it names.
struct THttpBodyFrame {
    // File offset of the first body byte: the Content-Range start, else 0.
    int64_t start = 0;
    // Body bytes the answer announces; -1 when the body runs until close.
    int64_t length = -1;
    // The file size the answer names (Content-Range total, else the
    // Content-Length of a whole-file answer); -1 when it names none.
    int64_t total = -1;
    bool hasRange = false;
    bool hasLength = false;
    bool chunked = false;
};

// Largest byte count or offset accepted from a server (2^62).
constexpr int64_t kHttpMaxByteCount = int64_t{1} << 62;

// Fills frame from a 2xx answer's head. False with a short reason when the
// head is unusable: malformed or conflicting lengths and ranges, a 206
// without one byte range, a transfer or content coding other than chunked.
bool DescribeHttpBody(const THttpResponseHeader &header, THttpBodyFrame &frame, std::string &problem);

// "bytes S-E/T" or "bytes S-E/*"; total is -1 for "*". False when malformed
// or out of order (S > E, or E >= T).
bool ParseContentRange(const std::string &value, int64_t &first, int64_t &last, int64_t &total);
// Decimal digits only (blanks around allowed), at most kHttpMaxByteCount.
bool ParseByteCount(const std::string &value, int64_t &count);
// The file name of a Content-Disposition value: the text after "filename=",
// without a leading double quote and its closing one, up to ";" or the end.
// Empty when the value names none.
std::string DispositionFileName(const std::string &value);
