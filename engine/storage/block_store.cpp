#include "engine/storage/block_store.h"

#include <algorithm>
#include <cstring>

#include "engine/base/engine_buffer_pools.h"

void TBlockStore::SetUp(int32_t length)
{
    Clear();
    pieceLength = std::max<int32_t>(length, 0);
    unitLength = std::min(pieceLength, kMaxUnitLength);
    const int32_t unitCount = unitLength > 0 ? (pieceLength + unitLength - 1) / unitLength : 0;
    units.assign(static_cast<size_t>(unitCount), nullptr);
    present.assign(static_cast<size_t>((pieceLength + kBlockLength - 1) / kBlockLength), 0);
}

int32_t TBlockStore::UnitBytes(int32_t unit) const
{
    return std::min(unitLength, pieceLength - unit * unitLength);
}

int32_t TBlockStore::BlockBytes(int32_t block) const
{
    return std::min(kBlockLength, pieceLength - block * kBlockLength);
}

int32_t TBlockStore::Put(int32_t offset, const uint8_t *bytes, int32_t length)
{
    if (bytes == nullptr || offset < 0 || offset >= pieceLength || offset % kBlockLength != 0)
        return -1;
    const int32_t block = offset / kBlockLength;
    const int32_t unit = offset / unitLength;
    if (length != BlockBytes(block) || offset + length > unit * unitLength + UnitBytes(unit))
        return -1;
    if (present[static_cast<size_t>(block)] != 0)
        return 0;
    uint8_t *&memory = units[static_cast<size_t>(unit)];
    if (memory == nullptr)
        memory = LargeBlockBufferPool().Get(UnitBytes(unit));
    std::memcpy(memory + (offset - unit * unitLength), bytes, static_cast<size_t>(length));
    present[static_cast<size_t>(block)] = 1;
    presentBytes += length;
    return length;
}

bool TBlockStore::Has(int32_t offset) const
{
    if (offset < 0 || offset >= pieceLength)
        return false;
    return present[static_cast<size_t>(offset / kBlockLength)] != 0;
}

bool TBlockStore::HasRange(int32_t offset, int32_t length) const
{
    if (offset < 0 || length <= 0 || length > pieceLength - offset)
        return false;
    for (int32_t block = offset / kBlockLength; block * kBlockLength < offset + length; ++block) {
        if (present[static_cast<size_t>(block)] == 0)
            return false;
    }
    return true;
}

bool TBlockStore::Copy(int32_t offset, int32_t length, uint8_t *out) const
{
    if (!HasRange(offset, length))
        return false;
    while (length > 0) {
        const int32_t unit = offset / unitLength;
        const int32_t inUnit = offset - unit * unitLength;
        const int32_t take = std::min(length, UnitBytes(unit) - inUnit);
        std::memcpy(out, units[static_cast<size_t>(unit)] + inUnit, static_cast<size_t>(take));
        out += take;
        offset += take;
        length -= take;
    }
    return true;
}

int32_t TBlockStore::ContiguousFrom(int32_t offset) const
{
    if (offset < 0 || offset % kBlockLength != 0)
        return 0;
    int32_t bytes = 0;
    for (int32_t block = offset / kBlockLength; block < static_cast<int32_t>(present.size()); ++block) {
        if (present[static_cast<size_t>(block)] == 0)
            break;
        bytes += BlockBytes(block);
    }
    return bytes;
}

int32_t TBlockStore::ForgetUnit(int32_t unit)
{
    uint8_t *&memory = units[static_cast<size_t>(unit)];
    if (memory == nullptr)
        return 0;
    LargeBlockBufferPool().Release(memory);
    memory = nullptr;
    int32_t forgotten = 0;
    const int32_t end = unit * unitLength + UnitBytes(unit);
    for (int32_t block = unit * unitLength / kBlockLength; block * kBlockLength < end; ++block) {
        if (present[static_cast<size_t>(block)] != 0) {
            present[static_cast<size_t>(block)] = 0;
            forgotten += BlockBytes(block);
        }
    }
    presentBytes -= forgotten;
    return forgotten;
}

int32_t TBlockStore::ReleaseUnitsBelow(int32_t offset)
{
    int32_t forgotten = 0;
    for (int32_t unit = 0; unit < static_cast<int32_t>(units.size()); ++unit) {
        if (unit * unitLength + UnitBytes(unit) > offset)
            break;
        forgotten += ForgetUnit(unit);
    }
    return forgotten;
}

int32_t TBlockStore::Clear()
{
    int32_t forgotten = 0;
    for (int32_t unit = 0; unit < static_cast<int32_t>(units.size()); ++unit)
        forgotten += ForgetUnit(unit);
    return forgotten;
}
