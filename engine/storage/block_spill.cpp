#include "engine/storage/block_spill.h"

#include "engine/storage/seeded_adler32.h"

namespace {
constexpr size_t kInfoHashBytes = 20;

void PutLittle32(std::string &out, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<char>(value >> (8 * i)));
}

uint32_t Little32(const uint8_t *at)
{
    return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 | static_cast<uint32_t>(at[2]) << 16 |
           static_cast<uint32_t>(at[3]) << 24;
}
} // namespace

uint32_t SpillChecksum(int32_t piece, const uint8_t *infoHash, const uint8_t *data, size_t length)
{
    const uint32_t seed = SeededAdler32(static_cast<uint32_t>(piece), infoHash, kInfoHashBytes);
    return SeededAdler32(seed, data, length);
}

void AppendSpillRecord(std::string &out, int32_t piece, const uint8_t *infoHash, const uint8_t *data, size_t length)
{
    PutLittle32(out, static_cast<uint32_t>(length));
    PutLittle32(out, SpillChecksum(piece, infoHash, data, length));
    PutLittle32(out, static_cast<uint32_t>(piece));
    PutLittle32(out, 0);
    out.append(reinterpret_cast<const char *>(data), length);
}

TBlockSpillReader::TBlockSpillReader(ReadFunction reader, const uint8_t *hash, int32_t length, int32_t count)
    : read(std::move(reader)), infoHash(hash), pieceLength(length), pieceCount(count)
{
}

bool TBlockSpillReader::Next(TSpillRecord &record)
{
    if (ended)
        return false;
    ended = true;
    uint8_t header[kSpillHeaderBytes];
    if (read(header, static_cast<int64_t>(sizeof(header))) != static_cast<int64_t>(sizeof(header)))
        return false;
    const uint32_t length = Little32(header);
    const uint32_t checksum = Little32(header + 4);
    const uint32_t piece = Little32(header + 8);
    if (length < 1 || length > static_cast<uint64_t>(pieceLength) + kSpillSlack ||
        piece >= static_cast<uint32_t>(pieceCount))
        return false;
    record.piece = static_cast<int32_t>(piece);
    record.data.resize(length);
    if (read(record.data.data(), length) != static_cast<int64_t>(length))
        return false;
    if (SpillChecksum(record.piece, infoHash, record.data.data(), length) != checksum)
        return false;
    ended = false;
    return true;
}
