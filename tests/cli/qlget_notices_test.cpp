// What qlget says about its sources while it follows a task.
#include <gtest/gtest.h>

#include <cstring>

#include "cli/qlget/qlget_notices.h"

namespace {

TTaskDetail Reading(uint64_t bytes, uint32_t serial, uint32_t givenUp, uint32_t restarts = 0)
{
    TTaskDetail detail;
    std::memset(&detail, 0, sizeof detail);
    detail.info.httpBytes = bytes;
    detail.sourceFailureSerial = serial;
    detail.sourcesGivenUp = givenUp;
    detail.dataRestarts = restarts;
    std::strcpy(detail.sourceFailure, "127.0.0.1:8080: HTTP 500 Internal Server Error");
    return detail;
}

using Lines = std::vector<std::string>;

TEST(QlgetNoticesTest, AFailureIsRepeatedEvery30SecondsOnlyWhileNoByteArrives)
{
    TQlgetNotices notices;
    EXPECT_EQ(notices.Take(Reading(0, 0, 0), 1000), Lines{});
    // No failure known yet: silence is not explained by anything.
    EXPECT_EQ(notices.Take(Reading(0, 0, 0), 40000), Lines{});
    EXPECT_EQ(notices.Take(Reading(0, 3, 0), 40000), Lines{"127.0.0.1:8080: HTTP 500 Internal Server Error, retrying"});
    EXPECT_EQ(notices.Take(Reading(0, 4, 0), 60000), Lines{});
    EXPECT_EQ(notices.Take(Reading(0, 5, 0), 70000), Lines{"127.0.0.1:8080: HTTP 500 Internal Server Error, retrying"});
    // Bytes arrive: the clock starts again.
    EXPECT_EQ(notices.Take(Reading(100, 5, 0), 80000), Lines{});
    EXPECT_EQ(notices.Take(Reading(100, 5, 0), 105000), Lines{});
    EXPECT_EQ(notices.Take(Reading(100, 5, 0), 110000), Lines{"127.0.0.1:8080: HTTP 500 Internal Server Error, retrying"});
}

TEST(QlgetNoticesTest, EachSourceGivenUpAndEachRestartIsToldOnce)
{
    TQlgetNotices notices;
    EXPECT_EQ(notices.Take(Reading(0, 1, 1), 0),
              Lines{"127.0.0.1:8080: HTTP 500 Internal Server Error; this source is given up"});
    EXPECT_EQ(notices.Take(Reading(0, 1, 1), 100), Lines{});
    EXPECT_EQ(notices.Take(Reading(0, 1, 1, 1), 200), Lines{"the file changed on the server; starting again"});
    EXPECT_EQ(notices.Take(Reading(0, 1, 1, 1), 300), Lines{});
}

} // namespace
