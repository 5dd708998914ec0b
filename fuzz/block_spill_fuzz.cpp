// Reads arbitrary bytes as a block spill file of a small table: every record
// handed out names a piece of the table and fits the length limit.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "engine/storage/block_spill.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    constexpr int32_t kPieceLength = 65536;
    constexpr int32_t kPieceCount = 4;
    const uint8_t hash[20] = {1, 2, 3};
    size_t position = 0;
    TBlockSpillReader reader(
        [&](uint8_t *buffer, int64_t length) {
            const size_t take = std::min(static_cast<size_t>(length), size - position);
            if (take > 0)
                std::memcpy(buffer, data + position, take);
            position += take;
            return static_cast<int64_t>(take);
        },
        hash, kPieceLength, kPieceCount);
    TSpillRecord record;
    while (reader.Next(record)) {
        if (record.piece < 0 || record.piece >= kPieceCount || record.data.empty() ||
            static_cast<int64_t>(record.data.size()) > kPieceLength + kSpillSlack)
            std::abort();
    }
    return 0;
}
