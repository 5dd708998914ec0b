#pragma once
#include <array>
#include <cstdint>
#include <string>

// What one announce tells a tracker about the task.
struct TAnnounceFacts {
    std::array<uint8_t, 20> infoHash{};
    std::array<uint8_t, 20> peerId{};
    int64_t uploaded = 0;
    int64_t downloaded = 0;
    int64_t left = 0;
    int32_t port = 0; // our listening port
};

// Every announce says "started"; the key and the number of peers asked for
// are fixed.
constexpr int32_t kAnnounceEventStarted = 2;
constexpr int32_t kAnnounceHttpKey = 3800;
constexpr int32_t kAnnounceNumWant = 200;

// The request target of an HTTP announce: the tracker's path, then its own
// query (a passkey, kept), then ours joined with "&". Control bytes, blanks
// and bytes above 0x7F in the tracker's own parts are escaped.
std::string BuildAnnounceTarget(const std::string &path, const std::string &ownQuery, const TAnnounceFacts &facts);

// The whole HTTP/1.0 GET; empty when the host or target would break the
// request line (a control byte or a blank).
std::string BuildAnnounceRequest(const std::string &target, const std::string &host, int32_t port);
