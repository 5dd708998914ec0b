#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "engine/base/engine_buffer_pools.h"
#include "engine/net/socket_buffer.h"

namespace {
constexpr int32_t kSendPad = 1024;
constexpr int32_t kReceivePad = 2048;

// A buffer of exactly this capacity holding `held` bytes of 'x'.
void Fill(QSocketBuffer &buffer, int32_t pad, int32_t capacity, int32_t held)
{
    ASSERT_TRUE(buffer.Reserve(capacity - pad));
    ASSERT_EQ(buffer.Capacity(), capacity);
    ASSERT_TRUE(buffer.Append(std::string(static_cast<size_t>(held), 'x').data(), held));
}

bool ZeroTerminated(const QSocketBuffer &buffer)
{
    return buffer.Data()[buffer.Length()] == 0;
}
} // namespace

TEST(SocketBuffer, GrowsByTheRequestPlusTheOldCapacityPlusThePad)
{
    QSocketBuffer buffer(kReceivePad);
    EXPECT_STREQ(buffer.Text(), "");
    ASSERT_TRUE(buffer.Append("abc", 3));
    EXPECT_EQ(buffer.Capacity(), 3 + kReceivePad);
    EXPECT_STREQ(buffer.Text(), "abc");
    const uint8_t *before = buffer.Data();
    ASSERT_TRUE(buffer.Reserve(100)); // fits: stays where it is
    EXPECT_EQ(buffer.Data(), before);
    ASSERT_TRUE(buffer.Reserve(5000));
    EXPECT_EQ(buffer.Capacity(), 5000 + 3 + kReceivePad + kReceivePad);
    EXPECT_STREQ(buffer.Text(), "abc");
}

TEST(SocketBuffer, StaysZeroTerminatedThroughReadsAndConsumes)
{
    QSocketBuffer buffer(kReceivePad);
    ASSERT_TRUE(buffer.Reserve(10));
    std::memcpy(buffer.Tail(), "hello world", 11);
    buffer.Commit(5);
    EXPECT_STREQ(buffer.Text(), "hello");
    buffer.Consume(2, false);
    EXPECT_STREQ(buffer.Text(), "llo");
    EXPECT_TRUE(ZeroTerminated(buffer));
    // A commit cannot claim more than the room there is.
    buffer.Commit(1 << 20);
    EXPECT_EQ(buffer.Length(), buffer.Capacity());
    EXPECT_TRUE(ZeroTerminated(buffer));
}

TEST(SocketBuffer, MostlyEmptyLargeBuffersMoveIntoSmallerOnes)
{
    QSocketBuffer buffer(kReceivePad);
    Fill(buffer, kReceivePad, 8192, 2000);
    buffer.Consume(1000, false);
    EXPECT_EQ(buffer.Capacity(), 2024);
    EXPECT_EQ(buffer.Length(), 1000);
    EXPECT_TRUE(ZeroTerminated(buffer));
}

TEST(SocketBuffer, SmallBuffersOnlyMoveTheirRest)
{
    QSocketBuffer buffer(kReceivePad);
    Fill(buffer, kReceivePad, 3000, 20);
    std::memcpy(const_cast<uint8_t *>(buffer.Data()) + 10, "0123456789", 10);
    const uint8_t *before = buffer.Data();
    buffer.Consume(10, false);
    EXPECT_EQ(buffer.Capacity(), 3000);
    EXPECT_EQ(buffer.Data(), before);
    EXPECT_STREQ(buffer.Text(), "0123456789");
}

TEST(SocketBuffer, KeepOnlyMovesAndNeverShrinks)
{
    QSocketBuffer buffer(kSendPad);
    Fill(buffer, kSendPad, 8192, 1010);
    buffer.Consume(1000, true);
    EXPECT_EQ(buffer.Capacity(), 8192);
    EXPECT_EQ(buffer.Length(), 10);
    buffer.Consume(10, true);
    EXPECT_EQ(buffer.Capacity(), 8192);
    EXPECT_EQ(buffer.Length(), 0);
    EXPECT_TRUE(ZeroTerminated(buffer));
}

TEST(SocketBuffer, HugeBuffersWithLotsUnusedShrinkToTheRestPlusATenth)
{
    QSocketBuffer buffer(kReceivePad);
    Fill(buffer, kReceivePad, 3000000, 1800000);
    buffer.Consume(1000000, false); // rest 800 000: 3 000 000 / 800 000 < 6
    EXPECT_EQ(buffer.Capacity(), 880000);
    EXPECT_EQ(buffer.Length(), 800000);
    EXPECT_TRUE(ZeroTerminated(buffer));
}

TEST(SocketBuffer, AnEmptiedBufferGoesBackToThePool)
{
    int64_t inUseBefore = 0;
    int64_t free = 0;
    SocketBufferPool().Statistics(inUseBefore, free);
    QSocketBuffer buffer(kSendPad);
    ASSERT_TRUE(buffer.Append("abc", 3));
    int64_t inUse = 0;
    SocketBufferPool().Statistics(inUse, free);
    EXPECT_GT(inUse, inUseBefore);
    buffer.Consume(100, false); // more than held: drops all
    EXPECT_EQ(buffer.Capacity(), 0);
    EXPECT_EQ(buffer.Length(), 0);
    EXPECT_STREQ(buffer.Text(), "");
    SocketBufferPool().Statistics(inUse, free);
    EXPECT_EQ(inUse, inUseBefore);
}

TEST(SocketBuffer, RefusesSizesThatDoNotFitThirtyTwoBits)
{
    QSocketBuffer buffer(kSendPad);
    ASSERT_TRUE(buffer.Append("a", 1));
    EXPECT_FALSE(buffer.Reserve(0x7FFFFFFF));
    EXPECT_FALSE(buffer.Reserve(-1));
    EXPECT_STREQ(buffer.Text(), "a");
}
