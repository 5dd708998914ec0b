#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

// The bytes of one piece held in memory, in units of up to 128 KiB taken from
// the engine's large-block pool on first use. Data arrives in 16 KiB blocks
// (the piece's last block may be shorter); the store knows which are present.
class TBlockStore {
public:
    static constexpr int32_t kBlockLength = 16384;
    static constexpr int32_t kMaxUnitLength = 131072;

    TBlockStore() = default;
    ~TBlockStore() { Clear(); }
    TBlockStore(const TBlockStore &) = delete;
    TBlockStore &operator=(const TBlockStore &) = delete;

    // Fixes the geometry for a piece of this length; holds no memory yet.
    void SetUp(int32_t pieceLength);

    int32_t UnitLength() const { return unitLength; }
    int32_t UnitCount() const { return static_cast<int32_t>(units.size()); }
    // Bytes of the unit at index (the last unit may be shorter).
    int32_t UnitBytes(int32_t unit) const;
    // The unit's memory; null while no block of it is present.
    const uint8_t *Unit(int32_t unit) const { return units[static_cast<size_t>(unit)]; }

    // Stores the block at offset, which must be a block boundary, with exactly
    // the block's length. Returns the bytes added (0 when it was already
    // present) or -1 when refused.
    int32_t Put(int32_t offset, const uint8_t *bytes, int32_t length);
    bool Has(int32_t offset) const;
    // Whether every block overlapping [offset, offset + length) is present.
    bool HasRange(int32_t offset, int32_t length) const;
    // Copies present bytes out; false when any of them is missing.
    bool Copy(int32_t offset, int32_t length, uint8_t *out) const;
    // Bytes present without a gap from offset (a block boundary).
    int32_t ContiguousFrom(int32_t offset) const;

    int32_t PresentBytes() const { return presentBytes; }
    bool Empty() const { return presentBytes == 0; }

    // Returns every unit that ends at or before offset to the pool and forgets
    // its blocks; the bytes forgotten.
    int32_t ReleaseUnitsBelow(int32_t offset);
    // Returns every unit; the bytes forgotten.
    int32_t Clear();

private:
    int32_t BlockBytes(int32_t block) const;
    int32_t ForgetUnit(int32_t unit);

    int32_t pieceLength = 0;
    int32_t unitLength = 0;
    std::vector<uint8_t *> units;
    std::vector<uint8_t> present; // one flag per block
    int32_t presentBytes = 0;
};
