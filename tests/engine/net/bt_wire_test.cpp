#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/net/bt_wire.h"

namespace {

std::vector<uint8_t> Frame(uint32_t announced, std::vector<uint8_t> rest = {})
{
    std::vector<uint8_t> bytes(4);
    WriteBigEndian32(bytes.data(), announced);
    bytes.insert(bytes.end(), rest.begin(), rest.end());
    return bytes;
}

TBtFrame Read(const std::vector<uint8_t> &bytes, TBtMessage &message)
{
    return NextBtFrame(bytes.data(), static_cast<int32_t>(bytes.size()), message);
}

// 17 pieces of 64 KiB, the last one 1000 bytes.
const TBtGeometry kGeometry{16LL * 65536 + 1000, 65536, 17};

} // namespace

TEST(BtWireTest, FramesAreReadOnlyOnceTheirBytesArrived)
{
    TBtMessage message;
    EXPECT_EQ(Read({0, 0, 0}, message), TBtFrame::Incomplete);
    ASSERT_EQ(Read(Frame(0), message), TBtFrame::Complete);
    EXPECT_TRUE(message.keepAlive);
    EXPECT_EQ(message.frameLength, 4);

    // A partial piece tells its id, so its arrival can be noted.
    ASSERT_EQ(Read(Frame(9 + 16384, {BT_PIECE, 0, 0}), message), TBtFrame::Incomplete);
    EXPECT_TRUE(message.hasId);
    EXPECT_EQ(message.id, BT_PIECE);
    EXPECT_EQ(Read(Frame(5), message), TBtFrame::Incomplete);
    EXPECT_FALSE(message.hasId);

    ASSERT_EQ(Read(Frame(5, {BT_HAVE, 0, 0, 0, 7, 99}), message), TBtFrame::Complete);
    EXPECT_EQ(message.frameLength, 9) << "the byte after the message belongs to the next";
    EXPECT_EQ(message.payloadLength, 4);

    EXPECT_EQ(Read(Frame(524289, {BT_PIECE}), message), TBtFrame::Oversized);
    EXPECT_EQ(Read(Frame(0xFFFFFFFFu), message), TBtFrame::Oversized);
    EXPECT_EQ(Read(Frame(524288, {BT_PIECE}), message), TBtFrame::Incomplete);
}

TEST(BtWireTest, BlocksMustLieOnABoundaryInsideOnePiece)
{
    EXPECT_TRUE(BlockInBounds({0, 0, 16384}, kGeometry));
    EXPECT_TRUE(BlockInBounds({15, 49152, 16384}, kGeometry));
    EXPECT_TRUE(BlockInBounds({16, 0, 1000}, kGeometry)) << "the short last piece";
    EXPECT_FALSE(BlockInBounds({16, 0, 1001}, kGeometry)) << "past the end of the file";
    EXPECT_FALSE(BlockInBounds({17, 0, 16384}, kGeometry)) << "no such piece";
    EXPECT_FALSE(BlockInBounds({0xFFFFFFFFu, 0, 16384}, kGeometry));
    EXPECT_FALSE(BlockInBounds({0, 100, 16384}, kGeometry)) << "off a block boundary";
    EXPECT_FALSE(BlockInBounds({0, 0, 0}, kGeometry));
    EXPECT_FALSE(BlockInBounds({0, 0, 16385}, kGeometry)) << "larger than a block";
    EXPECT_FALSE(BlockInBounds({0, 65536, 16384}, kGeometry)) << "past the piece";
    EXPECT_FALSE(BlockInBounds({0, 0xFFFFC000u, 16384}, kGeometry)) << "begin + length wraps in 32 bits";

    // Pieces beyond 4 GiB keep their block numbers.
    TBtGeometry large{1LL << 40, 4194304, 262144};
    TBtBlockRef ref{200000, 16384, 16384};
    ASSERT_TRUE(BlockInBounds(ref, large));
    int64_t block = BlockNumber(ref, large);
    EXPECT_EQ(block, (200000LL * 4194304 + 16384) / 16384);
    TBtBlockRef back = RefOfBlock(block, 16384, large);
    EXPECT_EQ(back.index, 200000u);
    EXPECT_EQ(back.begin, 16384u);
}

TEST(BtWireTest, FieldsOfRequestAndPieceNeedTheirSizes)
{
    std::vector<uint8_t> request;
    AppendBlockMessage(request, BT_REQUEST, {3, 16384, 1000});
    ASSERT_EQ(request.size(), 17u);
    TBtMessage message;
    ASSERT_EQ(Read(request, message), TBtFrame::Complete);
    TBtBlockRef ref;
    ASSERT_TRUE(ParseBlockFields(message, ref));
    EXPECT_EQ(ref.index, 3u);
    EXPECT_EQ(ref.begin, 16384u);
    EXPECT_EQ(ref.length, 1000u);
    message.payloadLength = 11;
    EXPECT_FALSE(ParseBlockFields(message, ref));

    ASSERT_EQ(Read(Frame(9, {BT_PIECE, 0, 0, 0, 1, 0, 0, 0, 0}), message), TBtFrame::Complete);
    EXPECT_FALSE(ParsePieceFields(message, ref)) << "a piece without data";
}

TEST(BtWireTest, CannotServeNoticeIsAPieceAtOffsetTwo)
{
    std::vector<uint8_t> notice;
    AppendCannotServe(notice, 12);
    ASSERT_EQ(static_cast<int32_t>(notice.size()), kCannotServeBytes);
    TBtMessage message;
    ASSERT_EQ(Read(notice, message), TBtFrame::Complete);
    EXPECT_EQ(CannotServePiece(message), 12);
    TBtBlockRef ref;
    ASSERT_TRUE(ParsePieceFields(message, ref));
    EXPECT_FALSE(BlockInBounds(ref, kGeometry)) << "a standard peer sees an invalid block";

    std::vector<uint8_t> piece;
    AppendPieceHeader(piece, {0, 2, 5});
    piece.insert(piece.end(), {0x34, 0, 0, 0, 12});
    ASSERT_EQ(Read(piece, message), TBtFrame::Complete);
    EXPECT_EQ(CannotServePiece(message), -1) << "without the mark it is no notice";
}

TEST(BtWireTest, BitfieldsHaveTheExactSizeAndLoseSpareBits)
{
    std::vector<uint8_t> bits{0xFF, 0xFF, 0xFF};
    ASSERT_TRUE(MaskSpareBits(bits, 17));
    EXPECT_EQ(bits[2], 0x80);
    EXPECT_EQ(CountBits(bits), 17);
    std::vector<uint8_t> four(4, 0);
    EXPECT_FALSE(MaskSpareBits(four, 17));
    std::vector<uint8_t> two(2, 0);
    EXPECT_FALSE(MaskSpareBits(two, 17));

    std::vector<uint8_t> map(3, 0);
    SetBit(map, 16, true);
    SetBit(map, 24, true); // outside: ignored
    SetBit(map, -1, true);
    EXPECT_EQ(map, (std::vector<uint8_t>{0, 0, 0x80}));
    EXPECT_TRUE(BitSet(map, 16));
    EXPECT_FALSE(BitSet(map, 1000));
}

TEST(BtWireTest, DisguiseTexts)
{
    // 1.2.3.4 in network order, read as a little-endian number.
    const uint32_t address = 1u | 2u << 8 | 3u << 16 | 4u << 24;
    EXPECT_EQ(DisguiseRequest(address, 6881, 1), "GET / HTTP/1.0\r\nHost: 67305985:0\r\n\r\n");
    EXPECT_EQ(DisguiseRequest(address, 6889, 4),
              "GET / HTTP/1.0\r\nUser-Agent: Mozilla/4.0 (compatible; MSIE 5.00; Windows 98)\r\n"
              "Host: 67305985:8\r\n\r\n");
    EXPECT_EQ(DisguiseAnswer(3, 10), "HTTP/1.0 200 OK\r\nConnection: Close\r\nContent-Encoding: none\r\n\r\n");
    EXPECT_EQ(DisguiseAnswer(4, 11), "HTTP/1.0 200 OK\r\nConnection: Keep-Alive\r\n\r\n");
}
