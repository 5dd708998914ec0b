#include "engine/net/bt_wire.h"

#include <algorithm>
#include <cstring>

#include "engine/net/block_request.h"

namespace {
constexpr int32_t kLengthPrefix = 4;
constexpr int32_t kPieceFields = 8;  // index, begin
constexpr int32_t kNoticeFields = 5; // '5', piece index
constexpr int32_t kDisguisePortModulus = 6881;

void AppendBigEndian32(std::vector<uint8_t> &out, uint32_t value)
{
    uint8_t bytes[4];
    WriteBigEndian32(bytes, value);
    out.insert(out.end(), bytes, bytes + 4);
}
} // namespace

uint32_t ReadBigEndian32(const uint8_t *bytes)
{
    return static_cast<uint32_t>(bytes[0]) << 24 | static_cast<uint32_t>(bytes[1]) << 16 |
           static_cast<uint32_t>(bytes[2]) << 8 | bytes[3];
}

void WriteBigEndian32(uint8_t *bytes, uint32_t value)
{
    bytes[0] = static_cast<uint8_t>(value >> 24);
    bytes[1] = static_cast<uint8_t>(value >> 16);
    bytes[2] = static_cast<uint8_t>(value >> 8);
    bytes[3] = static_cast<uint8_t>(value);
}

TBtFrame NextBtFrame(const uint8_t *data, int32_t length, TBtMessage &message)
{
    message = TBtMessage();
    if (data == nullptr || length < kLengthPrefix)
        return TBtFrame::Incomplete;
    uint32_t announced = ReadBigEndian32(data);
    if (announced > kBtMaxMessage)
        return TBtFrame::Oversized;
    message.frameLength = kLengthPrefix + static_cast<int32_t>(announced);
    if (announced == 0) {
        message.keepAlive = true;
        return TBtFrame::Complete;
    }
    message.payloadLength = static_cast<int32_t>(announced) - 1;
    if (length > kLengthPrefix) {
        message.hasId = true;
        message.id = data[kLengthPrefix];
        message.payload = data + kLengthPrefix + 1;
    }
    return length >= message.frameLength ? TBtFrame::Complete : TBtFrame::Incomplete;
}

bool ParseBlockFields(const TBtMessage &message, TBtBlockRef &ref)
{
    if (message.payloadLength != kBtBlockFields || message.payload == nullptr)
        return false;
    ref.index = ReadBigEndian32(message.payload);
    ref.begin = ReadBigEndian32(message.payload + 4);
    ref.length = ReadBigEndian32(message.payload + 8);
    return true;
}

bool ParsePieceFields(const TBtMessage &message, TBtBlockRef &ref)
{
    if (message.payloadLength <= kPieceFields || message.payload == nullptr)
        return false;
    ref.index = ReadBigEndian32(message.payload);
    ref.begin = ReadBigEndian32(message.payload + 4);
    ref.length = static_cast<uint32_t>(message.payloadLength - kPieceFields);
    return true;
}

bool BlockInBounds(const TBtBlockRef &ref, const TBtGeometry &geometry)
{
    if (geometry.pieceLength <= 0 || geometry.fileSize <= 0 || ref.index >= static_cast<uint32_t>(geometry.pieceCount))
        return false;
    if (ref.begin % kBlockBytes != 0 || ref.length < 1 || ref.length > static_cast<uint32_t>(kBlockBytes))
        return false;
    int64_t pieceStart = static_cast<int64_t>(ref.index) * geometry.pieceLength;
    int64_t pieceBytes = std::min<int64_t>(geometry.pieceLength, geometry.fileSize - pieceStart);
    return static_cast<int64_t>(ref.begin) + ref.length <= pieceBytes;
}

int64_t BlockNumber(const TBtBlockRef &ref, const TBtGeometry &geometry)
{
    return (static_cast<int64_t>(ref.index) * geometry.pieceLength + ref.begin) / kBlockBytes;
}

TBtBlockRef RefOfBlock(int64_t block, int32_t length, const TBtGeometry &geometry)
{
    int64_t offset = block * kBlockBytes;
    TBtBlockRef ref;
    ref.index = static_cast<uint32_t>(offset / geometry.pieceLength);
    ref.begin = static_cast<uint32_t>(offset % geometry.pieceLength);
    ref.length = static_cast<uint32_t>(length);
    return ref;
}

int64_t CannotServePiece(const TBtMessage &message)
{
    if (message.id != BT_PIECE || message.payloadLength != kPieceFields + kNoticeFields || message.payload == nullptr)
        return -1;
    const uint8_t *p = message.payload;
    if (ReadBigEndian32(p) != 0 || ReadBigEndian32(p + 4) != kCannotServeBegin || p[8] != kCannotServeMark)
        return -1;
    return ReadBigEndian32(p + 9);
}

void AppendSimple(std::vector<uint8_t> &out, uint8_t id)
{
    AppendBigEndian32(out, 1);
    out.push_back(id);
}

void AppendHave(std::vector<uint8_t> &out, uint32_t piece)
{
    AppendBigEndian32(out, 5);
    out.push_back(BT_HAVE);
    AppendBigEndian32(out, piece);
}

void AppendBitfield(std::vector<uint8_t> &out, const std::vector<uint8_t> &bitmap)
{
    AppendBigEndian32(out, static_cast<uint32_t>(bitmap.size() + 1));
    out.push_back(BT_BITFIELD);
    out.insert(out.end(), bitmap.begin(), bitmap.end());
}

void AppendBlockMessage(std::vector<uint8_t> &out, uint8_t id, const TBtBlockRef &ref)
{
    AppendBigEndian32(out, 1 + kBtBlockFields);
    out.push_back(id);
    AppendBigEndian32(out, ref.index);
    AppendBigEndian32(out, ref.begin);
    AppendBigEndian32(out, ref.length);
}

void AppendPieceHeader(std::vector<uint8_t> &out, const TBtBlockRef &ref)
{
    AppendBigEndian32(out, 1 + kPieceFields + ref.length);
    out.push_back(BT_PIECE);
    AppendBigEndian32(out, ref.index);
    AppendBigEndian32(out, ref.begin);
}

void AppendCannotServe(std::vector<uint8_t> &out, uint32_t piece)
{
    AppendBigEndian32(out, 1 + kPieceFields + kNoticeFields);
    out.push_back(BT_PIECE);
    AppendBigEndian32(out, 0);
    AppendBigEndian32(out, kCannotServeBegin);
    out.push_back(kCannotServeMark);
    AppendBigEndian32(out, piece);
}

void AppendKeepAlive(std::vector<uint8_t> &out)
{
    AppendBigEndian32(out, 0);
}

bool MaskSpareBits(std::vector<uint8_t> &bitmap, int32_t pieceCount)
{
    if (pieceCount < 0 || bitmap.size() != (static_cast<size_t>(pieceCount) + 7) / 8)
        return false;
    if (pieceCount % 8 != 0)
        bitmap.back() &= static_cast<uint8_t>(0xFF00 >> (pieceCount % 8));
    return true;
}

bool BitSet(const std::vector<uint8_t> &bitmap, int64_t index)
{
    if (index < 0 || static_cast<uint64_t>(index / 8) >= bitmap.size())
        return false;
    return (bitmap[static_cast<size_t>(index / 8)] & (0x80 >> (index % 8))) != 0;
}

void SetBit(std::vector<uint8_t> &bitmap, int64_t index, bool on)
{
    if (index < 0 || static_cast<uint64_t>(index / 8) >= bitmap.size())
        return;
    auto mask = static_cast<uint8_t>(0x80 >> (index % 8));
    uint8_t &byte = bitmap[static_cast<size_t>(index / 8)];
    byte = on ? static_cast<uint8_t>(byte | mask) : static_cast<uint8_t>(byte & ~mask);
}

int32_t CountBits(const std::vector<uint8_t> &bitmap)
{
    int32_t count = 0;
    for (uint8_t byte : bitmap)
        count += __builtin_popcount(byte);
    return count;
}

std::string DisguiseRequest(uint32_t address, int32_t port, int32_t attempts)
{
    uint8_t bytes[4];
    std::memcpy(bytes, &address, 4);
    uint32_t littleEndian = static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
                            static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
    std::string text = "GET / HTTP/1.0\r\n";
    if (attempts % 2 == 0)
        text += "User-Agent: Mozilla/4.0 (compatible; MSIE 5.00; Windows 98)\r\n";
    text += "Host: " + std::to_string(littleEndian) + ":" + std::to_string(port % kDisguisePortModulus);
    text += "\r\n\r\n";
    return text;
}

std::string DisguiseAnswer(uint32_t engineSeconds, int64_t engineTime)
{
    std::string text = "HTTP/1.0 200 OK\r\nConnection: ";
    text += engineSeconds % 2 != 0 ? "Close\r\n" : "Keep-Alive\r\n";
    if (static_cast<uint32_t>(engineTime) % 2 == 0)
        text += "Content-Encoding: none\r\n";
    text += "\r\n";
    return text;
}
