#include "engine/net/gzip_body.h"

#include <zlib.h>

namespace {
// Window bits for a gzip wrapper only.
constexpr int kGzipWindow = 16 + MAX_WBITS;
} // namespace

bool InflateGzip(const std::string &in, size_t limit, std::string &out)
{
    out.clear();
    z_stream stream{};
    if (inflateInit2(&stream, kGzipWindow) != Z_OK)
        return false;
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(in.data()));
    stream.avail_in = static_cast<uInt>(in.size());
    char chunk[16384];
    int result = Z_OK;
    while (result == Z_OK) {
        stream.next_out = reinterpret_cast<Bytef *>(chunk);
        stream.avail_out = sizeof chunk;
        result = inflate(&stream, Z_NO_FLUSH);
        size_t produced = sizeof chunk - stream.avail_out;
        if (out.size() + produced > limit) {
            result = Z_MEM_ERROR;
            break;
        }
        out.append(chunk, produced);
        // No progress with input left means the stream is cut short.
        if (result == Z_BUF_ERROR || (result == Z_OK && produced == 0 && stream.avail_in == 0))
            break;
    }
    inflateEnd(&stream);
    if (result != Z_STREAM_END) {
        out.clear();
        return false;
    }
    return true;
}
