#include <gtest/gtest.h>

#include <string>

#include "engine/net/http_redirect.h"
#include "engine/net/http_request.h"
#include "engine/net/http_response_header.h"
#include "engine/net/http_validator.h"

namespace {

const char kAgent[] = "User-Agent:Mozilla/4.0 (compatible; MSIE 5.00; Windows 98) Quarrowlight/1.0.3\r\n";

THttpGet Get(int64_t position)
{
    THttpGet get;
    get.path = "/pub/game.part1.rar?x=1";
    get.host = "dl.example.invalid";
    get.referer = "http://dl.example.invalid:8080/pub";
    get.position = position;
    return get;
}

} // namespace

TEST(HttpGetRequest, FirstRequestOfASourceAsksForTheWholeFile)
{
    EXPECT_EQ(BuildHttpGet(Get(0)), std::string("GET /pub/game.part1.rar?x=1 HTTP/1.1\r\n"
                                                 "Host:dl.example.invalid\r\n"
                                                 "Accept:*/*\r\n"
                                                 "Referer: http://dl.example.invalid:8080/pub\r\n") +
                                         kAgent +
                                         "Connection:Keep-Alive\r\n"
                                         "Pragma: no-cache\r\n"
                                         "Cache-Control: no-cache\r\n"
                                         "\r\n");
}

TEST(HttpGetRequest, LaterRequestsAskForAnOpenEndedRange)
{
    THttpGet get = Get(1048576);
    EXPECT_EQ(BuildHttpGet(get), std::string("GET /pub/game.part1.rar?x=1 HTTP/1.1\r\n"
                                             "Host:dl.example.invalid\r\n"
                                             "Accept:*/*\r\n"
                                             "Referer: http://dl.example.invalid:8080/pub\r\n") +
                                     kAgent +
                                     "Connection:Keep-Alive\r\n"
                                     "Range: bytes=1048576-\r\n"
                                     "Pragma: no-cache\r\n"
                                     "Cache-Control: no-cache\r\n"
                                     "\r\n");
    // Offsets past 4 GiB are written whole.
    EXPECT_NE(BuildHttpGet(Get(6442450944LL)).find("Range: bytes=6442450944-\r\n"), std::string::npos);
}

TEST(HttpGetRequest, HostCarriesThePortUnlessItIsTheDefault)
{
    THttpGet get = Get(0);
    get.port = 8080;
    EXPECT_NE(BuildHttpGet(get).find("\r\nHost:dl.example.invalid:8080\r\nAccept:*/*\r\n"), std::string::npos);
    get.port = 80;
    EXPECT_NE(BuildHttpGet(get).find("\r\nHost:dl.example.invalid\r\nAccept:*/*\r\n"), std::string::npos);
}

TEST(HttpGetRequest, RefusesPartsThatWouldForgeLines)
{
    THttpGet get = Get(0);
    get.host = "a\r\nX-Injected: 1";
    EXPECT_EQ(BuildHttpGet(get), "");
    get = Get(0);
    get.path = "/a b";
    EXPECT_EQ(BuildHttpGet(get), "");
    get = Get(0);
    get.referer = std::string("http://x/\n");
    EXPECT_EQ(BuildHttpGet(get), "");
    get = Get(0);
    get.path = "/" + std::string(kHttpMaxUrlLength, 'a');
    EXPECT_EQ(BuildHttpGet(get), "");
    get.path.pop_back();
    EXPECT_NE(BuildHttpGet(get), "");
}

TEST(HttpGetRequest, PathAndRefererComeFromTheUrl)
{
    EXPECT_EQ(HttpRequestPath("http://h.invalid:81/a/b.bin?q=/x"), "/a/b.bin?q=/x");
    EXPECT_EQ(HttpRequestPath("http://h.invalid"), "/");
    EXPECT_EQ(HttpRefererOf("http://h.invalid:81/a/b.bin"), "http://h.invalid:81/a");
}

TEST(HttpRedirect, RelativeTargetsBecomeAbsoluteOnTheSameServer)
{
    std::string target;
    ASSERT_EQ(ResolveHttpRedirect("dl/f.bin", "127.0.0.1", 8080, target), THttpRedirectVerdict::Follow);
    EXPECT_EQ(target, "http://127.0.0.1:8080/dl/f.bin");
    ASSERT_EQ(ResolveHttpRedirect("/dl/f.bin", "h.invalid", 80, target), THttpRedirectVerdict::Follow);
    EXPECT_EQ(target, "http://h.invalid/dl/f.bin");
    ASSERT_EQ(ResolveHttpRedirect("//mirror.invalid/f.bin", "h.invalid", 80, target), THttpRedirectVerdict::Follow);
    EXPECT_EQ(target, "http://mirror.invalid/f.bin");
    ASSERT_EQ(ResolveHttpRedirect(" HTTP://Mirror.invalid:81/f.bin ", "h.invalid", 80, target),
              THttpRedirectVerdict::Follow);
    EXPECT_EQ(target, "HTTP://Mirror.invalid:81/f.bin");
    ASSERT_EQ(ResolveHttpRedirect("FTP://mirror.invalid/pub/f.bin", "h.invalid", 80, target),
              THttpRedirectVerdict::Follow);
    EXPECT_EQ(target, "FTP://mirror.invalid/pub/f.bin");
    // A colon after the first slash is part of a path, not a scheme.
    ASSERT_EQ(ResolveHttpRedirect("dl/a:b", "h.invalid", 80, target), THttpRedirectVerdict::Follow);
    EXPECT_EQ(target, "http://h.invalid/dl/a:b");
}

TEST(HttpRedirect, OtherSchemesAreRefusedWithAMessage)
{
    std::string target;
    for (const char *location : {"https://h.invalid/f.bin", "javascript:x", "http:/f.bin", "ftp:/f.bin"}) {
        EXPECT_EQ(ResolveHttpRedirect(location, "h.invalid", 80, target), THttpRedirectVerdict::OtherScheme)
            << location;
        EXPECT_NE(target.find("unsupported scheme"), std::string::npos);
    }
    EXPECT_EQ(ResolveHttpRedirect("  ", "h.invalid", 80, target), THttpRedirectVerdict::NoLocation);
}

TEST(HttpRedirect, OverlongTargetsAreRefused)
{
    std::string target;
    std::string location = "/" + std::string(kHttpMaxUrlLength, 'x');
    EXPECT_EQ(ResolveHttpRedirect(location, "h.invalid", 80, target), THttpRedirectVerdict::TooLong);
    location.resize(kHttpMaxUrlLength - std::string("http://h.invalid").size());
    EXPECT_EQ(ResolveHttpRedirect(location, "h.invalid", 80, target), THttpRedirectVerdict::Follow);
    EXPECT_EQ(target.size(), kHttpMaxUrlLength);
}

TEST(HttpGetRequest, IfRangeGoesOnlyWithARangeAndNeverForgesALine)
{
    THttpGet get = Get(0);
    get.ifRange = "\"5f-abc\"";
    EXPECT_EQ(BuildHttpGet(get).find("If-Range"), std::string::npos);
    get.position = 4096;
    EXPECT_NE(BuildHttpGet(get).find("Range: bytes=4096-\r\nIf-Range: \"5f-abc\"\r\n"), std::string::npos);
    get.ifRange = "x\r\nDELETE / HTTP/1.1";
    EXPECT_EQ(BuildHttpGet(get), "");
}

namespace {
std::string ValidatorOf(const std::string &lines)
{
    const std::string head = "HTTP/1.1 200 OK\r\n" + lines + "\r\n";
    THttpResponseHeader header;
    header.Parse(head.data(), static_cast<int32_t>(head.size()));
    return HttpValidatorOf(header);
}
} // namespace

TEST(HttpValidator, AStrongETagElseLastModifiedElseNothing)
{
    const std::string modified = "Last-Modified: Tue, 08 Dec 2026 10:00:00 GMT\r\n";
    EXPECT_EQ(ValidatorOf("ETag: \"65-1f\"\r\n" + modified), "\"65-1f\"");
    // A weak tag may stay while the bytes change.
    EXPECT_EQ(ValidatorOf("ETag: W/\"65-1f\"\r\n" + modified), "Tue, 08 Dec 2026 10:00:00 GMT");
    EXPECT_EQ(ValidatorOf("Content-Length: 5\r\n"), "");
    EXPECT_EQ(ValidatorOf("ETag: \"" + std::string(300, 'a') + "\"\r\n"), "");
}
