#pragma once
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <vector>

#include "engine/core/piece_range.h"
#include "engine/core/scheduler_pieces.h"
#include "engine/core/scheduler_pool.h"
#include "engine/net/block_request.h"
#include "engine/net/task_scheduling.h"

// What a task's connections share when they choose what to fetch: the
// in-progress marks and end game, the pending list of blocks any connection
// may take, and the piece ranges of the server sources. Runs on the task's
// worker; reads the piece store and the pool only through their interfaces.
class TPieceScheduler : public ITaskScheduling {
public:
    TPieceScheduler(ISchedulerPieces &pieces, ISchedulerPool &pool);
    ~TPieceScheduler();
    TPieceScheduler(const TPieceScheduler &) = delete;
    TPieceScheduler &operator=(const TPieceScheduler &) = delete;

    // Frees every range and forgets the marks, the pending list and the focus.
    void Clear();

    // --- in-progress marks and end game (piece_scheduler.cpp) ---
    bool NeedsPiece(int32_t piece) override;
    bool BlockRequestedOrPresent(int64_t block) override;
    void ReportNotRequested(int32_t piece) override { UnmarkInProgress(piece, false); }
    bool EndGame() override { return endGame; }
    bool MarkInProgress(int32_t piece);
    void UnmarkInProgress(int32_t piece, bool finished);
    int32_t InProgressCount(int32_t piece) const;
    int32_t FocusPiece() override { return focusPiece; }
    void SetFocusPiece(int32_t piece) { focusPiece = piece; }

    // --- the pending list (piece_scheduler.cpp) ---
    void ReturnBlocks(std::vector<TBlockRequest> &&requests) override;
    bool TakePending(int64_t block, int32_t length) override;
    bool PendingHolds(int64_t block) override;
    void AddPending(int64_t block, int32_t length) override;
    // Moves up to most (0: a default) pending blocks of the first piece the
    // peer has, that is needed and not excluded, onto the peer's queue.
    bool PickPending(TPeerObject &peer, const std::vector<uint8_t> &peerHave, const std::vector<int32_t> &exclude,
                     int32_t most);
    // Every fourth 8-second step: bounds the pending list, empties it once
    // the task is complete.
    void PendingUpkeep(bool complete);
    // Drops pending entries whose block the piece store already has.
    void DropObtainedPending();
    const std::deque<TBlockRequest> &Pending() const { return pending; }

    // --- piece ranges of the server sources (piece_ranges.cpp) ---
    std::vector<std::unique_ptr<TPieceRange>> &Ranges() override { return ranges; }
    void EngageRanges() override;
    bool AssignRange(TPeerObject &peer) override;
    TPieceRange *AddRange(int32_t first, int32_t last, TPeerObject *owner, TPeerId *source) override;
    void RemoveRange(TPieceRange *range) override;
    // The range of a dropped bad server is marked reopened.
    void ReopenRangeOf(TPeerObject &peer);
    // Server connections are up but have no ranges yet, early in the run:
    // the peer pickers leave the pieces to them.
    bool WaitsForServers();

private:
    // The in-progress list and end game as the need tests see them.
    bool RecomputeEndGame();
    bool Steal(TPeerObject &peer);
    void Assign(TPieceRange &range, TPeerObject &peer);

    ISchedulerPieces &pieces;
    ISchedulerPool &pool;
    std::vector<std::unique_ptr<TPieceRange>> ranges;
    std::deque<TBlockRequest> pending;
    std::map<int32_t, int32_t> inProgress;
    int32_t inProgressEntries = 0;
    bool endGame = false;
    int32_t focusPiece = -1;
};
