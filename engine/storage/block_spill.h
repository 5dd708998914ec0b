#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The block spill file: the bytes of unfinished pieces that were in memory
// when the task stopped. A sequence of records, each a 16-byte header of four
// little-endian 32-bit fields (data length, checksum, piece index, 0) and the
// data: the piece's bytes directly after its flushed prefix.
constexpr size_t kSpillHeaderBytes = 16;
// Data bytes a record may carry beyond one piece length.
constexpr int64_t kSpillSlack = 1048575;

// Adler-32 of the data, started from the Adler-32 of the info hash, which is
// started from the piece index.
uint32_t SpillChecksum(int32_t piece, const uint8_t *infoHash, const uint8_t *data, size_t length);

// Appends one framed record to out.
void AppendSpillRecord(std::string &out, int32_t piece, const uint8_t *infoHash, const uint8_t *data,
                       size_t length);

struct TSpillRecord {
    int32_t piece = 0;
    std::vector<uint8_t> data;
};

// Reads records in order through read(buffer, length) -> bytes read, and
// stops for good at the first short header, a length outside 1 … piece
// length + kSpillSlack, a piece index outside the table, a short data read
// or a checksum mismatch.
class TBlockSpillReader {
public:
    using ReadFunction = std::function<int64_t(uint8_t *buffer, int64_t length)>;

    TBlockSpillReader(ReadFunction read, const uint8_t *infoHash, int32_t pieceLength, int32_t pieceCount);
    // False at the end or at the first bad record.
    bool Next(TSpillRecord &record);

private:
    ReadFunction read;
    const uint8_t *infoHash;
    int32_t pieceLength;
    int32_t pieceCount;
    bool ended = false;
};
