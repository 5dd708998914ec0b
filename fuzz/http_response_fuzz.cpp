// Reads arbitrary bytes as an HTTP answer: the bounded head, the body
// framing, a chunked body behind the head, the redirect target and the file
// name. Whatever is accepted must place the body inside the numbers the
// answer gave, and reading must stay in bounds.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/net/http_body_frame.h"
#include "engine/net/http_chunked_decoder.h"
#include "engine/net/http_redirect.h"
#include "engine/net/http_request.h"
#include "engine/net/http_response_header.h"

namespace {

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

void CheckFrame(const THttpBodyFrame &frame)
{
    Check(frame.start >= 0 && frame.start <= kHttpMaxByteCount);
    Check(frame.length >= -1 && frame.length <= kHttpMaxByteCount);
    if (frame.total >= 0 && frame.length >= 0 && frame.hasRange)
        Check(frame.start + frame.length <= frame.total);
    if (frame.chunked)
        Check(!frame.hasLength);
}

void CheckChunked(const uint8_t *body, int32_t length)
{
    THttpChunkedDecoder decoder;
    std::vector<uint8_t> out;
    // Two reads, cut in the middle, decode like one.
    int32_t half = length / 2;
    int32_t used = 0;
    THttpChunkedDecoder::Result result = decoder.Decode(body, half, out, used);
    Check(used >= 0 && used <= half);
    if (result == THttpChunkedDecoder::Result::More) {
        int32_t more = 0;
        decoder.Decode(body + half, length - half, out, more);
        Check(more >= 0 && more <= length - half);
        used += more;
    }
    Check(out.size() <= static_cast<size_t>(used));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 256 * 1024)
        return 0;
    // A copy of exactly the input's size: no terminating NUL to lean on.
    std::unique_ptr<char[]> copy(new char[size ? size : 1]);
    std::memcpy(copy.get(), data, size);
    const auto length = static_cast<int32_t>(size);

    int32_t end = THttpResponseHeader::FindEnd(copy.get(), length);
    Check(end >= -1 && end <= length && end <= THttpResponseHeader::kMaxBytes);
    if (end <= 0)
        return 0;

    THttpResponseHeader header;
    header.Parse(copy.get(), end);
    Check(header.statusCode >= 0 && header.statusCode <= 999);

    THttpBodyFrame frame;
    std::string problem;
    if (DescribeHttpBody(header, frame, problem))
        CheckFrame(frame);
    else
        Check(!problem.empty());
    CheckChunked(reinterpret_cast<const uint8_t *>(copy.get()) + end, length - end);

    std::string location;
    if (header.Find("Location", location)) {
        std::string target;
        if (ResolveHttpRedirect(location, "127.0.0.1", 8080, target) == THttpRedirectVerdict::Follow) {
            Check(target.size() <= kHttpMaxUrlLength);
            std::string scheme = target.substr(0, 7);
            for (char &c : scheme)
                c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
            Check(scheme == "http://" || scheme.substr(0, 6) == "ftp://");
            if (scheme != "http://")
                return 0;
            // A request built from it forges no lines: exactly one blank line ends it.
            THttpGet get;
            get.path = HttpRequestPath(target);
            get.host = "127.0.0.1";
            get.referer = HttpRefererOf(target);
            std::string request = BuildHttpGet(get);
            if (!request.empty())
                Check(request.find("\r\n\r\n") == request.size() - 4);
        }
    }
    std::string disposition;
    if (header.Find("Content-Disposition", disposition))
        Check(DispositionFileName(disposition).size() <= disposition.size());
    return 0;
}
