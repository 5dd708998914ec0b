#include "engine/core/range_plan.h"

#include <gtest/gtest.h>

namespace {

std::vector<TPieceSpan> AllSources(int32_t pieces, int32_t sources, int32_t allowance)
{
    std::vector<TPieceSpan> all;
    for (int32_t k = 0; k < sources; ++k) {
        auto spans = InitialRanges(pieces, sources, k, allowance);
        all.insert(all.end(), spans.begin(), spans.end());
    }
    return all;
}

TEST(InitialRangesTest, SourcesShareThePiecesAndTheLastTakesTheRest)
{
    EXPECT_EQ(AllSources(100, 3, 1), (std::vector<TPieceSpan>{{0, 32}, {33, 65}, {66, 99}}));
    EXPECT_EQ(AllSources(10, 1, 1), (std::vector<TPieceSpan>{{0, 9}}));
}

TEST(InitialRangesTest, AllowanceSplitsASourcesSpan)
{
    EXPECT_EQ(InitialRanges(12, 1, 0, 4), (std::vector<TPieceSpan>{{0, 3}, {4, 7}, {8, 11}}));
    // Short spans are not cut below one piece per part.
    EXPECT_EQ(InitialRanges(2, 1, 0, 20), (std::vector<TPieceSpan>{{0, 1}}));
    EXPECT_EQ(InitialRanges(23, 1, 0, 20), (std::vector<TPieceSpan>{{0, 3}, {4, 7}, {8, 11}, {12, 15}, {16, 22}}));
}

TEST(InitialRangesTest, MoreSourcesThanPiecesGiveOnePieceEach)
{
    EXPECT_EQ(AllSources(3, 5, 1), (std::vector<TPieceSpan>{{0, 0}, {1, 1}, {2, 2}}));
    EXPECT_TRUE(InitialRanges(0, 3, 0, 1).empty());
    EXPECT_TRUE(InitialRanges(10, 0, 0, 1).empty()) << "no sources, no division by zero";
    EXPECT_TRUE(InitialRanges(10, 2, 2, 1).empty());
}

TEST(StealCountTest, ShareFollowsTheRates)
{
    // Twice as fast: m = 200 / 3 = 66, 13 of 20.
    EXPECT_EQ(StealCount(20, 2000, 1000, true), 13);
    // Three times as fast: m = 75 + 1, 15, plus 1.
    EXPECT_EQ(StealCount(20, 3000, 1000, true), 16);
    // A connection without a range of its own before takes half.
    EXPECT_EQ(StealCount(20, 0, 1000, false), 10);
    // One piece left goes whole; a stalled owner loses nearly everything.
    EXPECT_EQ(StealCount(1, 5000, 1000, true), 1);
    EXPECT_EQ(StealCount(20, 5000, 0, true), 20);
    EXPECT_EQ(StealCount(0, 5000, 1000, true), 0);
    // Rates whose sum overflows 32 bits stay exact.
    EXPECT_EQ(StealCount(20, 3'000'000'000LL, 1'000'000'000LL, true), 16);
    EXPECT_EQ(StealCount(20, 0, 0, true), 10) << "no rates at all: no division by zero";
}

TEST(StealCountTest, SecondsLeftUsesSixtyFourBits)
{
    EXPECT_EQ(SecondsLeft(20, 1 << 20, 1 << 20), 20);
    EXPECT_EQ(SecondsLeft(4000, 16 << 20, 1), 4000LL * (16 << 20));
    EXPECT_EQ(SecondsLeft(5, 1 << 20, 0), -1);
}

} // namespace
