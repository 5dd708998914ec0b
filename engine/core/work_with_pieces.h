#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "engine/core/piece_scheduler.h"
#include "engine/core/published_data_file.h"
#include "engine/core/scheduler_pieces.h"
#include "engine/core/work_with_peers.h"
#include "engine/storage/pieces_event.h"
#include "engine/storage/source_versions.h"
#include "engine/storage/task_state_file.h"
#include "engine/storage/torrent_owner.h"

class TPieces;
class TTorrent;

// The piece layer of a task: the torrent and the data file, the have-map
// (one bit per piece, most significant bit first), completion, and the
// scheduler that holds what all connections share.
class TWorkWithPieces : public TWorkWithPeers,
                        public IPiecesEventSink,
                        public TTorrentOwner,
                        public ITaskPieceStore,
                        public ISchedulerPieces {
public:
    TWorkWithPieces();
    ~TWorkWithPieces() override;

    // Written by the worker.
    std::vector<uint8_t> haveMap;
    // What GetTaskPieceMap reads; replaced by Flush under the task's lock.
    std::vector<uint8_t> publishedHaveMap;
    uint32_t publishedPieceCount = 0;
    bool haveMapToPublish = false;
    // Pieces completed since the last statistics tick, to be announced.
    std::vector<uint32_t> newPieces;
    // The task state file's values: the records the data file hands over,
    // the torrent, and what the file held. Written on the worker, under the
    // task's own lock.
    TTaskStateValues stateValues;
    bool reopenRequested = false;
    // The data file as the interface sees it; replaced under the task's lock.
    TPublishedDataFile publishedDataFile;

    // Completion within one run: the time every piece was first present, and
    // the flag set once they were verified and flushed.
    int64_t completionTime = 0;
    bool completed = false;
    // The periodic save runs at the next tick instead of waiting its turn.
    bool saveRequested = false;

    // Copy of the published map into buf; the caller holds the task's lock.
    int32_t CopyPublishedHaveMap(void *buf, int32_t len) const;
    int32_t PublishedHaveMapSize() const { return static_cast<int32_t>(publishedHaveMap.size()); }
    // Sets or clears a piece's bit; indices past the map are ignored.
    bool SetHaveBit(int64_t piece, bool on);

    void Reset(bool release, bool full) override;
    bool HasMetadata() override;

    // --- the data file ---
    // Loads torrent metainfo and builds the data file; false when it is none.
    virtual bool LoadTorrent(const std::string &bytes);
    // Builds the data file for the known metainfo when there is none yet.
    virtual void OpenDataFile();
    virtual bool HasDataFile() { return pieces != nullptr || building != nullptr; }
    virtual bool PiecesReady();
    virtual bool StartupCheckFinished();
    // Copies the data file's piece counters (and with bytes, its byte counts) into the live status.
    virtual void CopyPieceCounters(bool bytes);
    // Lets the data file complete pending work (nothing is deferred yet).
    virtual void DataFileUpkeep() {}
    virtual void RemoveFromInProgress(uint32_t piece) { scheduler.UnmarkInProgress(static_cast<int32_t>(piece), true); }
    // Writes verified pieces out and closes the files; finishing gives
    // complete files their final names.
    void CloseDataFile(bool finishing);
    // Flushes the data file (every 20 s while incomplete).
    void FlushDataFile();
    // The 5-second upkeep of the data file: cache budget, housekeeping,
    // open handles.
    void DataFileHousekeeping();
    virtual void ReopenDataFile();
    const uint8_t *InfoHash() override;
    virtual std::string TorrentName();
    // Path of file n of the data file (its final name), empty when unknown.
    virtual std::string DataFilePath(int file);

    // The task state file with its resume record: loaded before the data
    // file is built, saved every 20 s and at the stop (after the data it
    // vouches for is synced), deleted once the task is complete.
    virtual void LoadResumeRecord();
    virtual void SaveResumeRecord();
    virtual void DeleteResumeRecord();
    // At the stop: the unfinished pieces' bytes in memory go to the spill file.
    void SaveBlockSpill();

    // --- completion ---
    // True when the run is finished: an HTTP task once complete, a
    // BitTorrent or P2SP task after its seeding hours. now 0 stands for the
    // engine time and never finishes a run.
    virtual bool CheckComplete(int64_t now);
    bool AllPiecesPresent();
    int32_t MissingPieceCount() override;

    // --- queries of the peer pickers ---
    bool NearlyComplete();
    int32_t RandomStartPiece();
    // Every fourth 8-second step: bounds the pending list, empties it once
    // complete.
    virtual void PendingUpkeep() { scheduler.PendingUpkeep(completed); }

    // IPeerTask: the piece store is this layer, the scheduling its scheduler.
    ITaskPieceStore &Store() override { return *this; }
    TPieceScheduler &Scheduling() override { return scheduler; }

    // ITaskPieceStore.
    bool PieceLayerReady() override { return HasPieces(); }
    int64_t FileSize() override;
    int32_t PieceLength() override;
    int32_t PieceCount() override;
    bool HasAllPieces() override;
    bool IsPieceComplete(int32_t piece) override;
    int64_t MissingInPiece(int32_t piece, int64_t *firstMissing) override;
    int32_t WriteBlock(int64_t block, int32_t length, const uint8_t *bytes, IBlockSource *source,
                       bool *needed) override;
    std::string SourceValidator(const std::string &url) override;
    bool CheckSourceVersion(const std::string &url, const std::string &validator) override;

    // Ends what a changed source's file made untrustworthy in a task
    // without piece hashes: every connection, the plan and the data file,
    // which the next reported size builds afresh. Run between rounds, never
    // from inside a connection's service. True when it did.
    bool DiscardChangedData();
    int32_t DataFileCount() const;

    // ISchedulerPieces (the rest is shared with the piece store).
    bool IsPieceNeeded(int32_t piece) override;
    bool HasBlock(int64_t block) override;

    // TTorrentOwner.
    void SetMetainfoPhase(int32_t phase) override { SetPhase(phase); }
    void OnBadLocalTorrent() override;
    bool BuildFileTable(const QElement &info) override;

    // The piece length of a task that knows only its size: a power of two
    // from 64 KiB to 16 MiB giving at most 2048 pieces, so the same size
    // always gives the same geometry.
    static int32_t PieceLengthForSize(int64_t size);

protected:
    // The data file's pieces are set up (not overridable, unlike PiecesReady).
    bool HasPieces() const;
    void OnServerSize(TPeerId &address) override;
    bool AdoptFetchedTorrent(const std::string &content) override;
    void ReopenRangesOf(TPeerObject &peer) override { scheduler.ReopenRangeOf(peer); }

    TRef<TPieces> pieces;
    TRef<TTorrent> torrent;

    // Copies the current data file's identity and table for the interface.
    void PublishDataFile();
    // The focus of the scheduling: the piece a reader waits for, or -1.
    void SetFocusPiece(int32_t piece) { scheduler.SetFocusPiece(piece); }
    // Verified bytes from offset up to the first piece not yet complete (see
    // TPieces::ReadStream); -1 without a data file.
    int64_t ReadPresent(int64_t offset, uint8_t *buffer, int64_t length);

private:
    void ReleaseDataFile();
    // Forgets what was planned against the pieces, ranges and all.
    void ClearScheduling();
    // Hands the loaded state to a data file about to be built.
    void PrepareStartup(TPieces &fresh);
    // Keeps the name a server gives inside the task's folder.
    std::string HttpTargetPath(const TPeerId &address) const;
    // Takes the sources' versions from the loaded state; an HTTP task's
    // state made for another first URL is dropped.
    void LoadSourceVersions();
    // Hands the versions to the state values for the next save.
    void StoreSourceVersions();
    // Drops the records that vouch for the data and saves the state at
    // once, so neither this run nor a crash resumes from them.
    void ForgetResumeData(const char *why);

    // A data file under construction; it may send events before it replaces
    // the current one.
    TPieces *building = nullptr;
    TSourceVersions versions;
    bool discardRequested = false;
    TPieceScheduler scheduler{*this, *this};
    // Pieces below it are known present; the completion test resumes there.
    int32_t firstMissing = 0;
};
