#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/core/piece_range.h"
#include "engine/net/block_request.h"

class IBlockSource;
class TPeerId;
class TPeerObject;

// What a peer object needs from the task that owns it. The task's worker
// calls the peers, and the peers call back only through this, on the same
// thread.
class IPeerTask {
public:
    // Statistics and limits.
    // Bytes the task may still read in this second (0: skip reading).
    virtual int32_t DownloadAllowance() = 0;
    virtual int32_t UploadAllowance() = 0;
    // File data delivered to the piece layer.
    virtual void CountPayload(int64_t bytes) = 0;
    // Piece data a BitTorrent connection served.
    virtual void CountUpload(int64_t bytes) = 0;
    // A connection has data waiting to be sent in this round.
    virtual void NoteUploading() = 0;
    // Adds delivered bytes to the per-kind totals (HTTP sources, peers).
    virtual void CountKindBytes(int32_t kind, int64_t bytes) = 0;
    // Engine time of the last statistics tick (the calendar time before it).
    virtual int64_t TaskClock() = 0;
    // The worker is winding down: returned blocks are dropped.
    virtual bool IsStopping() = 0;

    // The piece layer.
    // The data file's pieces are set up.
    virtual bool PieceLayerReady() = 0;
    // Bytes of the task's data; 0 while unknown.
    virtual int64_t FileSize() = 0;
    virtual int32_t PieceLength() = 0;
    virtual int32_t PieceCount() = 0;
    virtual bool NeedsPiece(int32_t piece) = 0;
    virtual bool HasAllPieces() = 0;
    virtual bool IsPieceComplete(int32_t piece) = 0;
    // Bytes of the piece still to fetch, and the piece offset of the first
    // missing byte; 0 when nothing is missing.
    virtual int64_t MissingInPiece(int32_t piece, int64_t *firstMissing) = 0;
    // The block is present in the piece store or parked in the pending list.
    virtual bool BlockRequestedOrPresent(int64_t block) = 0;
    // Releases one in-progress mark of the piece (it is fetched again).
    virtual void ReportNotRequested(int32_t piece) = 0;
    // The piece a reader waits for, or -1.
    virtual int32_t FocusPiece() = 0;
    virtual bool EndGame() = 0;
    // Stores a block: bytes taken, TPieces::kPieceCorrupt when the completed piece failed its
    // hash, -1 when the block maps to no piece; needed tells whether the
    // piece still wanted the data.
    virtual int32_t WriteBlock(int64_t block, int32_t length, const uint8_t *bytes, IBlockSource *source,
                               bool *needed) = 0;

    // The pending list of blocks any connection may take.
    // Puts the requests at the front (dropped while stopping).
    virtual void ReturnBlocks(std::vector<TBlockRequest> &&requests) = 0;
    // Removes the entry when present.
    virtual bool TakePending(int64_t block, int32_t length) = 0;
    virtual bool PendingHolds(int64_t block) = 0;
    virtual void AddPending(int64_t block, int32_t length) = 0;

    // Piece ranges of the server sources; the task owns them.
    virtual std::vector<std::unique_ptr<TPieceRange>> &Ranges() = 0;
    // Builds the initial ranges when there are none and the pieces are known.
    virtual void EngageRanges() = 0;
    // Gives the connection a range (continuation, free, taken over or stolen).
    virtual bool AssignRange(TPeerObject &peer) = 0;
    // A new range, stamped with the task clock; an owner takes it at once.
    virtual TPieceRange *AddRange(int32_t first, int32_t last, TPeerObject *owner, TPeerId *source) = 0;
    // Frees a range; its owner's pointer to it is cleared.
    virtual void RemoveRange(TPieceRange *range) = 0;

    // The peer pool's address operations.
    // Adds a parsed address (a redirect target) as a candidate.
    virtual bool AddAddress(TPeerId *address) = 0;
    // Backs off from an address after its connection failed.
    virtual void Penalize(TPeerId *address, TPeerObject *connection, int32_t amount) = 0;
    // Drops the address from the candidates for good.
    virtual void RemoveAddress(TPeerId *address) = 0;
    // A source's host did not resolve: state 20216.
    virtual void HostNotFound() = 0;
    virtual void SetPhase(int32_t phase) = 0;

protected:
    ~IPeerTask() = default;
};
