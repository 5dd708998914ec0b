#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/net/http_chunked_decoder.h"

namespace {

struct Outcome {
    THttpChunkedDecoder::Result result = THttpChunkedDecoder::Result::More;
    std::string payload;
    int32_t used = 0;
};

// Feeds text in pieces of step bytes.
Outcome Decode(const std::string &text, size_t step)
{
    THttpChunkedDecoder decoder;
    std::vector<uint8_t> out;
    Outcome outcome;
    for (size_t at = 0; at < text.size(); at += step) {
        size_t size = std::min(step, text.size() - at);
        int32_t used = 0;
        outcome.result = decoder.Decode(reinterpret_cast<const uint8_t *>(text.data() + at), static_cast<int32_t>(size),
                                        out, used);
        outcome.used += used;
        if (outcome.result != THttpChunkedDecoder::Result::More)
            break;
    }
    outcome.payload.assign(out.begin(), out.end());
    return outcome;
}

} // namespace

TEST(HttpChunkedDecoder, DecodesWhateverTheReadsCutTheStreamInto)
{
    const std::string body = "5\r\nhello\r\n1A;ext=1\r\nabcdefghijklmnopqrstuvwxyz\r\n0\r\nTrailer: x\r\n\r\nNEXT";
    for (size_t step : {1u, 2u, 3u, 7u, 1000u}) {
        Outcome outcome = Decode(body, step);
        EXPECT_EQ(outcome.result, THttpChunkedDecoder::Result::Done) << step;
        EXPECT_EQ(outcome.payload, "helloabcdefghijklmnopqrstuvwxyz") << step;
        // Bytes after the body are left for whoever reads next.
        EXPECT_EQ(outcome.used, static_cast<int32_t>(body.size() - 4)) << step;
    }
    EXPECT_EQ(Decode("3\nabc\n0\n\n", 1).payload, "abc");
}

TEST(HttpChunkedDecoder, WaitsForMoreUntilTheLastChunk)
{
    Outcome outcome = Decode("4\r\nab", 100);
    EXPECT_EQ(outcome.result, THttpChunkedDecoder::Result::More);
    EXPECT_EQ(outcome.payload, "ab");
}

TEST(HttpChunkedDecoder, RefusesMalformedAndOversizedFraming)
{
    const std::string bad[] = {
        "g\r\n",                       // not hex
        "\r\n",                        // no size
        "3\r\nabcX\r\n",               // payload longer than the size
        "3\rX",                        // CR not followed by LF
        "1000000000000000\r\n",        // 16 hex digits: beyond 2^60
        "5" + std::string(5000, ' ') + "\r\n", // size line beyond its cap
        "0\r\n" + std::string(70000, 'x'),     // trailer beyond its cap
    };
    for (const std::string &text : bad)
        EXPECT_EQ(Decode(text, 1).result, THttpChunkedDecoder::Result::Bad) << text.substr(0, 20);
    // The largest size allowed is still a size.
    EXPECT_EQ(Decode("fffffffffffffff\r\nab", 100).result, THttpChunkedDecoder::Result::More);
}
