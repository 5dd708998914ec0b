#include <gtest/gtest.h>

#include <cerrno>

#include "platform/winsock_codes.h"

using namespace platform;

TEST(WinsockCode, GivesTheNumbersTheEngineActsOn)
{
    EXPECT_EQ(WinsockCode(0), 0);
    EXPECT_EQ(WinsockCode(EAGAIN), WSAEWOULDBLOCK);
    EXPECT_EQ(WinsockCode(EWOULDBLOCK), WSAEWOULDBLOCK);
    // A non-blocking connect under way is "would block" to the engine.
    EXPECT_EQ(WinsockCode(EINPROGRESS), WSAEWOULDBLOCK);
    EXPECT_EQ(WinsockCode(ECONNREFUSED), WSAECONNREFUSED);
    EXPECT_EQ(WinsockCode(ECONNRESET), WSAECONNRESET);
    EXPECT_EQ(WinsockCode(EPIPE), WSAECONNRESET);
    EXPECT_EQ(WinsockCode(ECONNABORTED), WSAECONNABORTED);
    EXPECT_EQ(WinsockCode(EMFILE), WSAEMFILE);
    EXPECT_EQ(WinsockCode(ENFILE), WSAEMFILE);
    EXPECT_EQ(WinsockCode(EADDRINUSE), WSAEADDRINUSE);
    EXPECT_EQ(WinsockCode(ETIMEDOUT), WSAETIMEDOUT);
    EXPECT_EQ(WinsockCode(ENOTSOCK), WSAENOTSOCK);
    EXPECT_EQ(WinsockCode(EHOSTUNREACH), WSAEHOSTUNREACH);
    EXPECT_EQ(WinsockCode(ENETUNREACH), WSAENETUNREACH);
}

TEST(WinsockCode, KeepsUnknownErrorsApartFromWinsockNumbers)
{
    int32_t code = WinsockCode(EDOM);
    EXPECT_EQ(code, EDOM);
    EXPECT_LT(code, WSAEINTR);
}

TEST(WinsockCode, TakesTheSystemErrorOfAFailedLookUpFromErrno)
{
    // A resolver error that is not a system one is never read as errno.
    int32_t notFound = WinsockCode(ECONNREFUSED, -2 /* EAI_NONAME */);
    EXPECT_EQ(notFound, WSAHOST_NOT_FOUND);
    EXPECT_EQ(WinsockCode(ECONNREFUSED, -11 /* EAI_SYSTEM */), WSAECONNREFUSED);
    EXPECT_EQ(WinsockCode(0, -11 /* EAI_SYSTEM */), WSANO_RECOVERY);
    EXPECT_EQ(WinsockCode(0, -3 /* EAI_AGAIN */), WSATRY_AGAIN);
}
