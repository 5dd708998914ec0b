#pragma once
#include <cstdint>

// What the piece scheduler reads of the piece store. Every answer is "none"
// (0, false) while the pieces are not set up.
class ISchedulerPieces {
public:
    virtual bool PieceLayerReady() = 0;
    virtual int32_t PieceLength() = 0;
    virtual int32_t PieceCount() = 0;
    // The piece exists, is wanted and is not yet present.
    virtual bool IsPieceNeeded(int32_t piece) = 0;
    virtual bool HasBlock(int64_t block) = 0;
    // Wanted pieces not yet present.
    virtual int32_t MissingPieceCount() = 0;

protected:
    ~ISchedulerPieces() = default;
};
