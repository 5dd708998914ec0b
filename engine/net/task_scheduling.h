#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/core/piece_range.h"
#include "engine/net/block_request.h"

class TPeerId;
class TPeerObject;

// What a peer asks of the scheduling its task's connections share: which
// pieces are open, the pending list of blocks any connection may take, and
// the piece ranges of the server sources.
class ITaskScheduling {
public:
    virtual bool NeedsPiece(int32_t piece) = 0;
    // The piece store holds the block (parked blocks are PendingHolds').
    virtual bool BlockRequestedOrPresent(int64_t block) = 0;
    // Releases one in-progress mark of the piece (it is fetched again).
    virtual void ReportNotRequested(int32_t piece) = 0;
    // The piece a reader waits for, or -1.
    virtual int32_t FocusPiece() = 0;
    virtual bool EndGame() = 0;

    // The pending list.
    // Puts the requests at the front (dropped while stopping).
    virtual void ReturnBlocks(std::vector<TBlockRequest> &&requests) = 0;
    // Removes the entry when present.
    virtual bool TakePending(int64_t block, int32_t length) = 0;
    virtual bool PendingHolds(int64_t block) = 0;
    virtual void AddPending(int64_t block, int32_t length) = 0;

    // Piece ranges of the server sources; the scheduler owns them.
    virtual std::vector<std::unique_ptr<TPieceRange>> &Ranges() = 0;
    // Builds the initial ranges when there are none and the pieces are known.
    virtual void EngageRanges() = 0;
    // Gives the connection a range (continuation, free, taken over or stolen).
    virtual bool AssignRange(TPeerObject &peer) = 0;
    // A new range, stamped with the task clock; an owner takes it at once.
    virtual TPieceRange *AddRange(int32_t first, int32_t last, TPeerObject *owner, TPeerId *source) = 0;
    // Frees a range; its owner's pointer to it is cleared.
    virtual void RemoveRange(TPieceRange *range) = 0;

protected:
    ~ITaskScheduling() = default;
};
