#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// Framing of a tracker's answer to an HTTP announce: the head is read with
// THttpResponseHeader, the body ends where Content-Length says (counted
// from the end of the head), at the last chunk of a chunked body, or else
// when the server closes. A gzip body is inflated. Nothing is trusted: the
// answer, inflated or not, is held to kMaxTrackerAnswer bytes.
constexpr size_t kMaxTrackerAnswer = 1024 * 1024;

enum class TTrackerFrame { Incomplete, Complete, Refused };

struct TTrackerHttpAnswer {
    int32_t status = 0;
    std::string body;    // plain bencode, once Complete
    std::string problem; // why Refused
};

// bytes: everything received so far; closed: the server closed the
// connection after it.
TTrackerFrame FrameTrackerAnswer(const std::string &bytes, bool closed, TTrackerHttpAnswer &answer);
