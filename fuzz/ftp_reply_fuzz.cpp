// Reads arbitrary bytes as what an FTP server sends on its control
// connection: replies framed one at a time until the bytes run out or stop
// being replies, each reply's text read as a 213 size and a 227 address.
// Framing must consume within the bytes and within the reply limit, and
// whatever is accepted must be in range.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "engine/net/ftp_reply.h"

namespace {
void Check(bool condition)
{
    if (!condition)
        std::abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 256 * 1024)
        return 0;
    // A copy of exactly the input's size: no terminating NUL to lean on.
    std::unique_ptr<char[]> copy(new char[size ? size : 1]);
    std::memcpy(copy.get(), data, size);
    int32_t offset = 0;
    const auto length = static_cast<int32_t>(size);
    while (offset < length) {
        TFtpReply reply;
        int32_t used = -1;
        TFtpFrame frame = FrameFtpReply(copy.get() + offset, length - offset, reply, used);
        if (frame != TFtpFrame::Complete) {
            Check(used == 0);
            break;
        }
        Check(used > 0 && used <= length - offset && used <= kFtpMaxReply);
        Check(reply.code >= 100 && reply.code <= 599);
        Check(reply.text.size() < static_cast<size_t>(used));
        offset += used;

        int64_t fileSize = ParseFtpSize(reply.text);
        Check(fileSize == -1 || fileSize > 0);
        uint32_t host = 0;
        int32_t port = ParsePassiveReply(reply.text, host);
        Check(port == -1 || (port >= 1 && port <= 65535));
    }
    return 0;
}
