#pragma once
#include <cstdint>
#include <string>

// One reply on an FTP control connection. Replies arrive back to back (a
// short transfer's 150 and 226 often share one read), so the framer takes
// exactly one reply from the front of the buffer and leaves the rest.
struct TFtpReply {
    int32_t code = 0;
    // The first line's text after the code and its separator.
    std::string text;
};

enum class TFtpFrame {
    More,      // no whole reply buffered yet
    Complete,  // reply filled, used holds its length
    Malformed, // not a reply, or longer than kFtpMaxReply
};

// Longest reply accepted, continuation lines included.
constexpr int32_t kFtpMaxReply = 64 * 1024;

// Frames the reply at the front of data: "ddd text" on one line, or a first
// line "ddd-..." and every line up to the one starting "ddd " (or "ddd" and
// the line end). Lines end with LF, optionally after CR. The code must be
// three digits from 100 to 599.
TFtpFrame FrameFtpReply(const char *data, int32_t length, TFtpReply &reply, int32_t &used);

// The size a 213 reply names: digits only, above 0, within int64. -1 when the
// text is anything else.
int64_t ParseFtpSize(const std::string &text);

// The port of a 227 reply's "h1,h2,h3,h4,p1,p2" (in parentheses, or from the
// first digit on when there are none): six numbers of 0..255 and a port of
// 1..65535. The advertised host goes to host (network order), -1 when
// malformed.
int32_t ParsePassiveReply(const std::string &text, uint32_t &host);
