#include <gtest/gtest.h>

#include <string>

#include "engine/net/http_body_frame.h"
#include "engine/net/http_response_header.h"

namespace {

int32_t EndOf(const std::string &text)
{
    return THttpResponseHeader::FindEnd(text.data(), static_cast<int32_t>(text.size()));
}

THttpResponseHeader Parsed(const std::string &text)
{
    THttpResponseHeader header;
    int32_t end = EndOf(text);
    header.Parse(text.data(), end > 0 ? end : static_cast<int32_t>(text.size()));
    return header;
}

bool Frame(const std::string &head, THttpBodyFrame &frame, std::string *why = nullptr)
{
    std::string problem;
    bool ok = DescribeHttpBody(Parsed(head), frame, problem);
    if (why != nullptr)
        *why = problem;
    return ok;
}

} // namespace

TEST(HttpHeadEnd, EndsAtTheFirstBlankLineWithEitherLineBreak)
{
    EXPECT_EQ(EndOf("HTTP/1.1 200 OK\r\nA: b\r\n\r\nbody"), 25);
    EXPECT_EQ(EndOf("HTTP/1.1 200 OK\nA: b\n\nbody"), 22);
    // Mixed: an LF line followed by a CRLF blank line.
    EXPECT_EQ(EndOf("HTTP/1.1 200 OK\n\r\nxyz"), 18);
    EXPECT_EQ(EndOf("HTTP/1.1 200 OK\r\nA: b\r\n"), 0);
    EXPECT_EQ(EndOf("HTTP/1.1 200 OK\r\nA: b\r\n\r"), 0);
    EXPECT_EQ(EndOf(""), 0);
}

TEST(HttpHeadEnd, RefusesHeadsLongerThan64KiB)
{
    std::string head = "HTTP/1.1 200 OK\r\n";
    while (head.size() < 70000)
        head += "X-Filler: 0123456789abcdef\r\n";
    EXPECT_EQ(EndOf(head), -1);
    EXPECT_EQ(EndOf(head + "\r\n"), -1);
    // Just below the cap the same kind of head is still read.
    std::string small = "HTTP/1.1 200 OK\r\n";
    while (small.size() < 65000)
        small += "X-Filler: 0123456789abcdef\r\n";
    EXPECT_EQ(EndOf(small), 0);
    EXPECT_EQ(EndOf(small + "\r\n"), static_cast<int32_t>(small.size()) + 2);
    // A head without a single line break never waits for more than the cap.
    EXPECT_EQ(EndOf(std::string(THttpResponseHeader::kMaxBytes, 'a')), -1);
}

TEST(HttpHeadParse, SplitsTheStatusLine)
{
    THttpResponseHeader header = Parsed("HTTP/1.1 206 Partial Content\r\nServer: x\r\n\r\n");
    EXPECT_EQ(header.version, "HTTP/1.1");
    EXPECT_EQ(header.statusCode, 206);
    EXPECT_EQ(header.reason, "Partial Content");
    ASSERT_EQ(header.lines.size(), 1u);
    EXPECT_EQ(header.lines[0], "Server: x");

    THttpResponseHeader noReason = Parsed("HTTP/1.0  302\r\n\r\n");
    EXPECT_EQ(noReason.statusCode, 302);
    EXPECT_EQ(noReason.reason, "");

    // A status number of more than three digits is no status.
    EXPECT_EQ(Parsed("HTTP/1.1 99999999999999999999 X\r\n\r\n").statusCode, 0);
}

TEST(HttpHeadParse, KeepsAHeaderLikeFirstLineAndDropsOtherGarbage)
{
    THttpResponseHeader headerFirst = Parsed("Content-Length: 5\r\nX: y\r\n\r\n");
    EXPECT_EQ(headerFirst.statusCode, 0);
    EXPECT_EQ(headerFirst.lines.size(), 2u);

    THttpResponseHeader garbage = Parsed("garbage line\r\nX: y\r\n\r\n");
    EXPECT_EQ(garbage.statusCode, 0);
    ASSERT_EQ(garbage.lines.size(), 1u);
    EXPECT_EQ(garbage.lines[0], "X: y");
}

TEST(HttpHeadParse, LooksUpNamesIgnoringCaseAndBlanksBeforeTheColon)
{
    THttpResponseHeader header =
        Parsed("HTTP/1.1 200 OK\r\ncontent-LENGTH \t:   42\r\nContent-Type:text/plain\r\nLocation:a:b\r\n\r\n");
    std::string value;
    ASSERT_TRUE(header.Find("Content-Length", value));
    EXPECT_EQ(value, "42");
    ASSERT_TRUE(header.Find("content-type", value));
    EXPECT_EQ(value, "text/plain");
    ASSERT_TRUE(header.Find("Location", value));
    EXPECT_EQ(value, "a:b");
    // A longer name that only starts with the asked one is another header.
    EXPECT_FALSE(header.Find("Content", value));
    EXPECT_FALSE(header.Find("Content-Range", value));
}

TEST(HttpBodyFrame, ContentRangeNamesTheSizeAndTheStart)
{
    THttpBodyFrame frame;
    ASSERT_TRUE(Frame("HTTP/1.1 206 Partial\r\nContent-Range: bytes 0-99/5000\r\nContent-Length: 100\r\n\r\n", frame));
    EXPECT_EQ(frame.start, 0);
    EXPECT_EQ(frame.length, 100);
    EXPECT_EQ(frame.total, 5000);

    ASSERT_TRUE(Frame("HTTP/1.1 206 Partial\r\nContent-Range: bytes 1048576-4999999/5000000\r\n\r\n", frame));
    EXPECT_EQ(frame.start, 1048576);
    EXPECT_EQ(frame.length, 5000000 - 1048576);
    EXPECT_EQ(frame.total, 5000000);

    ASSERT_TRUE(Frame("HTTP/1.1 206 Partial\r\nContent-Range: bytes 10-19/*\r\n\r\n", frame));
    EXPECT_EQ(frame.total, -1);
    EXPECT_EQ(frame.length, 10);
}

TEST(HttpBodyFrame, WholeAnswerTakesItsSizeFromContentLength)
{
    THttpBodyFrame frame;
    ASSERT_TRUE(Frame("HTTP/1.1 200 OK\r\nContent-Length: 8589934592\r\n\r\n", frame));
    EXPECT_EQ(frame.start, 0);
    EXPECT_EQ(frame.length, 8589934592LL);
    EXPECT_EQ(frame.total, 8589934592LL);

    ASSERT_TRUE(Frame("HTTP/1.0 200 OK\r\n\r\n", frame));
    EXPECT_EQ(frame.length, -1);
    EXPECT_EQ(frame.total, -1);
    EXPECT_FALSE(frame.hasLength);
}

TEST(HttpBodyFrame, RefusesHeadsThatCouldPlaceBytesWrongly)
{
    THttpBodyFrame frame;
    std::string why;
    const char *bad[] = {
        // Lengths that disagree with the range, or with each other.
        "HTTP/1.1 206 P\r\nContent-Range: bytes 0-99/5000\r\nContent-Length: 5000\r\n\r\n",
        "HTTP/1.1 200 OK\r\nContent-Length: 10\r\nContent-Length: 11\r\n\r\n",
        // Malformed or reversed ranges, ranges past the end.
        "HTTP/1.1 206 P\r\nContent-Range: bytes 99-0/5000\r\n\r\n",
        "HTTP/1.1 206 P\r\nContent-Range: bytes 0-5000/5000\r\n\r\n",
        "HTTP/1.1 206 P\r\nContent-Range: bytes -5/5000\r\n\r\n",
        "HTTP/1.1 206 P\r\nContent-Range: items 0-5/5000\r\n\r\n",
        "HTTP/1.1 206 P\r\nContent-Range: bytes 0-5/5000x\r\n\r\n",
        "HTTP/1.1 206 P\r\nContent-Range: bytes 0-99999999999999999999/5000\r\n\r\n",
        // A multipart answer carries no single range.
        "HTTP/1.1 206 P\r\nContent-Type: multipart/byteranges; boundary=x\r\n\r\n",
        "HTTP/1.1 200 OK\r\nContent-Length: -1\r\n\r\n",
        "HTTP/1.1 200 OK\r\nContent-Length: 12abc\r\n\r\n",
        // Codings whose bytes are not the file's.
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, chunked\r\n\r\n",
        "HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nContent-Length: 10\r\n\r\n",
    };
    for (const char *head : bad)
        EXPECT_FALSE(Frame(head, frame, &why)) << head;
    EXPECT_FALSE(why.empty());
}

TEST(HttpBodyFrame, ByteCountsStopAt2To62)
{
    int64_t count = 0;
    EXPECT_TRUE(ParseByteCount(" 4611686018427387904 ", count));
    EXPECT_EQ(count, kHttpMaxByteCount);
    EXPECT_FALSE(ParseByteCount("4611686018427387905", count));
    EXPECT_FALSE(ParseByteCount("99999999999999999999999", count));
    EXPECT_FALSE(ParseByteCount("", count));
}

TEST(HttpBodyFrame, ChunkedAnswersIgnoreContentLength)
{
    THttpBodyFrame frame;
    ASSERT_TRUE(Frame("HTTP/1.1 200 OK\r\nTransfer-Encoding: Chunked\r\nContent-Length: 7\r\n\r\n", frame));
    EXPECT_TRUE(frame.chunked);
    EXPECT_EQ(frame.length, -1);
    EXPECT_EQ(frame.total, -1);
    ASSERT_TRUE(Frame("HTTP/1.1 206 P\r\nTransfer-Encoding: chunked\r\nContent-Range: bytes 5-9/10\r\n\r\n", frame));
    EXPECT_TRUE(frame.chunked);
    EXPECT_EQ(frame.start, 5);
    EXPECT_EQ(frame.length, 5);
}

TEST(HttpDisposition, ReadsTheFileName)
{
    EXPECT_EQ(DispositionFileName("attachment; filename=game.part1.rar"), "game.part1.rar");
    EXPECT_EQ(DispositionFileName("attachment; FILENAME=\"setup.exe\""), "setup.exe");
    // A quoted name holding ";" is cut there.
    EXPECT_EQ(DispositionFileName("attachment; filename=\"a;b.bin\""), "a");
    EXPECT_EQ(DispositionFileName("attachment; filename=x.bin; size=3"), "x.bin");
    EXPECT_EQ(DispositionFileName("inline"), "");
}
