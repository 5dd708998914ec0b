// ctest-labels: threading
#include "report/report_differences.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

TReportFields Totals(uint32_t time, uint64_t bytes, uint64_t http = 0, uint64_t p2p = 0)
{
    TReportFields f;
    f.totalTime = time;
    f.totalBytes = bytes;
    f.httpTotalBytes = http;
    f.p2pTotalBytes = p2p;
    return f;
}

TEST(ReportDifferences, GrowthSincePreviousNonZeroTotal)
{
    CReportDifferences d;
    EXPECT_EQ(d.Take(Totals(0, 1000)).inTotalBytes, 1000u);
    EXPECT_EQ(d.Take(Totals(0, 1500)).inTotalBytes, 500u);
    EXPECT_EQ(d.Take(Totals(0, 1200)).inTotalBytes, 0u); // smaller: 0, and 1200 is the new base
    EXPECT_EQ(d.Take(Totals(0, 1300)).inTotalBytes, 100u);
    EXPECT_EQ(d.Take(Totals(0, 0)).inTotalBytes, 0u);     // zero: 0, base unchanged
    EXPECT_EQ(d.Take(Totals(0, 1400)).inTotalBytes, 100u);
}

TEST(ReportDifferences, ZeroTimeLeavesThePreviousTime)
{
    CReportDifferences d;
    EXPECT_EQ(d.Take(Totals(30, 0)).inTime, 30u);
    EXPECT_EQ(d.Take(Totals(0, 0)).inTime, 0u);
    EXPECT_EQ(d.Take(Totals(45, 0)).inTime, 15u);
    EXPECT_EQ(d.Take(Totals(4294967295u, 0)).inTime, 4294967250u);
}

TEST(ReportDifferences, EachTotalKeepsItsOwnBase)
{
    CReportDifferences d;
    d.Take(Totals(10, 100, 1000, 10000));
    TReportDeltas deltas = d.Take(Totals(0, 150, 0, 10500));
    EXPECT_EQ(deltas.inTime, 0u);
    EXPECT_EQ(deltas.inTotalBytes, 50u);
    EXPECT_EQ(deltas.inHttpTotalBytes, 0u);
    EXPECT_EQ(deltas.inP2pTotalBytes, 500u);
    EXPECT_EQ(d.Take(Totals(0, 0, 1001, 0)).inHttpTotalBytes, 1u);
}

TEST(ReportDifferences, ConcurrentReportersShareOneBase)
{
    // Under ThreadSanitizer an unguarded base is reported as a race; in every
    // build each growth must be measured from a total that was really reported.
    CReportDifferences d;
    std::atomic<uint64_t> ticket{0};
    std::atomic<int> impossible{0};
    constexpr int kThreads = 6;
    constexpr int kReports = 2000;
    std::vector<std::thread> reporters;
    for (int t = 0; t < kThreads; ++t) {
        reporters.emplace_back([&] {
            for (int i = 0; i < kReports; ++i) {
                uint64_t total = ticket.fetch_add(1) + 1;
                if (d.Take(Totals(0, total)).inTotalBytes > total)
                    ++impossible;
            }
        });
    }
    for (auto &r : reporters)
        r.join();
    EXPECT_EQ(impossible.load(), 0);
    uint64_t last = uint64_t{kThreads} * kReports;
    uint64_t growth = d.Take(Totals(0, last * 2)).inTotalBytes;
    EXPECT_GE(growth, last);     // the base is at most the largest total
    EXPECT_LT(growth, last * 2); // and one of the reported ones
}

} // namespace
