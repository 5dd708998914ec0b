#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "engine/base/ref_object.h"
#include "engine/storage/block_source.h"
#include "engine/storage/info_hash.h"
#include "engine/storage/piece.h"
#include "engine/storage/pieces_event.h"
#include "engine/storage/task_file.h"

class QAutoLock;
class QElement;
class TResumeRecordReader;

// A task's data file: the files that form its byte stream and the pieces of
// that stream, with blocks held in memory until their piece is verified.
// Everything runs on the task's worker thread; file I/O takes the
// process-wide disk lock.
class TPieces : public TRefObject {
public:
    static constexpr int64_t kCacheUnitBytes = 262144;
    // The store's own budget until the task hands over its setting.
    static constexpr int32_t kDefaultCacheUnits = 32;
    // WritePieceRange: a write ran out of disk space (event 1002 was sent).
    static constexpr int64_t kWriteNoSpace = -2;
    // WriteBlock: the piece the block completed failed its hash.
    static constexpr int32_t kPieceCorrupt = -99;

    // owner receives the pieces events; it may be null. A single-file torrent
    // is stored at targetPath when that is non-empty.
    TPieces(IPiecesEventSink *owner, std::string saveDirectory, std::string targetPath);

    // --- wiring by the task ---
    // Polled while waiting for disk space; the task answers event 1002 by
    // asking its worker to stop.
    void SetStopQuery(std::function<bool()> query) { stopQuery = std::move(query); }
    // Receives the report of a corrupt piece from a BitTorrent peer.
    void SetCorruptPieceReporter(std::function<void(const TCorruptPieceReport &)> reporter)
    {
        corruptReporter = std::move(reporter);
    }
    // The cache budget in 256 KiB units, taken as min(8000, max(units, 4)).
    void SetCacheBudget(int32_t units);
    int64_t CacheBudgetBytes() const { return cacheBudgetUnits * kCacheUnitBytes; }

    // --- the file table ---
    // Builds files and pieces from a torrent's info dictionary (sends event
    // 100), then creates the files. previous, when given, is the task's
    // earlier table: its files are closed and files still on disk keep their
    // names. The caller keeps its reference to previous.
    bool BuildFromInfo(const QElement *info, TPieces *previous);
    // Builds one file of length bytes without piece hashes, for a source
    // that tells only the size (an HTTP task): stored at the target path, or
    // in the save directory under fileName. Pieces are taken as they arrive.
    // Sends event 100, then creates the file.
    bool BuildSingleFile(const std::string &fileName, int64_t length, int32_t pieceLength);
    // Opens and sizes a file for use at neededOffset (see the .cpp).
    bool PrepareFile(TTaskFile &file, int64_t neededOffset, bool writable, QAutoLock *lockHolder, bool noExtend);
    // Writes [offset, offset + length) of a piece into its files. Returns the
    // bytes written, -1 on bad arguments or a failed mapping, kWriteNoSpace
    // when the disk is full. Marks nothing complete.
    int64_t WritePieceRange(int32_t piece, const uint8_t *buffer, int32_t length, int32_t offset);
    // Reads [offset, offset + length) of a piece from its files; bytes read or -1.
    int64_t ReadPieceRange(int32_t piece, uint8_t *buffer, int32_t length, int32_t offset);
    // The files a piece covers, in order, and where it starts in the first.
    bool MapPieceToFiles(int32_t piece, std::vector<TTaskFile *> &covered, int64_t &startOffset);
    // Deselects (skip) or selects a file; false for an unknown file.
    bool SelectFile(int32_t file, bool skip);
    // Closes every file; with finishing, verified pieces are written first and
    // complete files get their final names. Returns how many were open.
    int32_t CloseFiles(bool finishing);
    // Closes every handle when too many are open (periodic housekeeping).
    void LimitOpenFiles();
    // Creates every selected file once the pieces are known and ends the
    // start-up check.
    void CreateAllFiles();
    // Free bytes for the caller on the volume of a folder.
    int64_t FreeSpace(const std::string &directory) const;
    // Creates the missing folders along a path (the last component too with alsoLast).
    bool CreateDirectories(const std::string &path, bool alsoLast) const;

    // --- the task state file ---
    // What the task loaded from its state file, handed over before the table
    // is built: the resume record, the selection record, the block spill
    // file's path (empty when the task keeps no state file) and whether the
    // start-up takes complete-looking files on a fast check.
    void SetStartupInput(std::string resumeRecord, std::string selectionRecord, std::string spillFilePath,
                         bool storeMode);
    // The record of the files and pieces as they stand, sent with event 1001
    // (an empty one first, so a failed build leaves no stale record). The
    // caller makes the files durable first (SyncFiles).
    bool BuildResumeRecord();
    // Applies the resume record handed over; false when it is missing,
    // damaged or does not match the files on disk.
    bool ReadResumeRecord();
    // The file selection record, sent with event 1000 once the check is done.
    void BuildSelectionRecord();
    // Deselects the files the handed-over selection record marks.
    void ApplySelectionRecord();
    // Writes the unfinished pieces' bytes in memory to the block spill file
    // (replacing it as a whole); a complete task deletes it instead.
    bool SaveBlockSpill();
    // Puts the spill file's records back into memory; true when any applied.
    bool LoadBlockSpill();
    // Runs once the table is built: takes over a previous table's data, or
    // runs the fast check (store mode), or reads the resume record and
    // falls back to the full check. False when told to stop.
    bool StartupCheck(TPieces *previous);
    // Re-reads and verifies every piece.
    void FullCheck();
    // Takes files of the right size as complete after sampling three pieces;
    // false (nothing marked) when a file is short or a sample fails.
    bool FastCheck();
    // Makes the data written since the last call durable; false when a file
    // could not be synced (no record may then vouch for it).
    bool SyncFiles();
    // A record built after the last piece reset is on disk: pieces reset
    // before it may have their beginnings written again.
    void RecordSaved() { unvouched.clear(); }
    // Pieces whose beginning was restored from the resume record, in record
    // order; they are fetched first.
    const std::vector<int32_t> &PartialPieces() const { return partialPieces; }
    const TInfoHash &InfoHash() const { return infoHash; }
    const std::string &SpillPath() const { return spillPath; }

    // --- the piece store ---
    // Takes one block of the stream: a whole 16 KiB block, or the shorter
    // last block of a piece. Returns the length (also when the piece does not
    // need it), kPieceCorrupt when the piece it completed failed its hash, -1
    // for a block outside the stream or a short delivery. needed, when given,
    // tells whether the piece wanted the data.
    int32_t WriteBlock(int64_t block, int32_t length, const uint8_t *bytes, IBlockSource *source,
                       bool *needed = nullptr);
    // Copies a block's bytes for uploading, reading ahead (hint bytes beyond,
    // 64 KiB by default) into memory. Returns the bytes copied, 0 when not
    // available yet, -1 on failure.
    int32_t ReadBlock(int64_t block, int32_t length, uint8_t *buffer, int32_t readAheadHint, bool mayReadIncomplete);
    bool HasBlock(int64_t block) const;
    // Copies verified bytes of the stream from offset on, piece after piece,
    // stopping before the first piece that is not complete: a reader never
    // sees bytes no hash (or whole arrival) vouched for. Returns the bytes
    // copied, 0 when the piece at offset is not complete (or offset is the
    // end), -1 for bad arguments or a failed read.
    int64_t ReadStream(int64_t offset, uint8_t *buffer, int64_t length);
    // The piece's bit in the complete-pieces bitfield.
    bool IsPieceComplete(int32_t piece) const;
    // The piece exists, is wanted, and is neither on disk nor verified in memory.
    bool IsNeeded(int32_t piece) const;
    void SetComplete(int32_t piece, bool complete);
    int32_t InMemory(int32_t piece) const;
    // A piece that is not complete loses its blocks and its partial state.
    void DropPiece(int32_t piece);
    // Writes the contiguous beginning of a stalled piece in whole units, when
    // at least minimum bytes; the bytes written, kPieceCorrupt, or 0.
    int32_t FlushPrefix(int32_t piece, int32_t minimum);
    // Writes a verified piece out and marks it complete; its length, or less.
    int32_t FinishPiece(int32_t piece);
    // Writes every verified piece still in memory.
    void FlushVerified();
    // Every 5 seconds: stalled pieces to disk, verified pieces out when they
    // fill the cache, then eviction.
    void Housekeeping();

    // --- state ---
    bool PiecesSetUp() const { return piecesSetUp; }
    bool CheckFinished() const { return piecesSetUp && checkedBytes == totalLength; }
    bool AllPiecesComplete() const { return piecesSetUp && completePieces == pieceCount; }
    const std::string &Name() const { return name; }
    const std::string &SaveDirectory() const { return saveDirectory; }
    int32_t PieceLength() const { return pieceLength; }
    int32_t PieceCount() const { return pieceCount; }
    int64_t TotalLength() const { return totalLength; }
    int32_t FileCount() const { return static_cast<int32_t>(files.size()); }
    TTaskFile *File(int32_t index) const;
    const std::vector<uint8_t> &Bitfield() const { return bitfield; }
    int64_t VerifiedBytes() const { return verifiedBytes; }
    int64_t CheckedBytes() const { return checkedBytes; }
    int64_t WantedBytes() const { return wantedBytes; }
    int64_t WantedPieces() const { return wantedPieces; }
    int32_t DoneOrUnwantedPieces() const { return doneOrUnwanted; }
    int32_t LastCompletedPiece() const { return lastCompleted; }
    int64_t CacheBytes() const { return cacheBytes; }
    int64_t VerifiedInMemoryBytes() const { return verifiedInMemory; }
    int64_t DownloadedBytes() const { return downloadedBytes; }
    int64_t DownloadedWithMemoryBytes() const { return downloadedWithMemory; }
    int64_t ReadCount() const { return readCount; }
    int64_t ReadHitCount() const { return readHitCount; }

protected:
    ~TPieces() override;

private:
    // pieces.cpp
    void ResetTable();
    void BuildPieces(std::string hashes);
    void TakeOverNames(const TPieces &previous);
    void ChooseTemporaryName(TTaskFile &file) const;
    void Send(int32_t code, int32_t argument, int32_t size, int32_t value);
    void ReportDiskFull();
    bool StopRequested() const { return stopQuery && stopQuery(); }
    void RecountDoneOrUnwanted();
    // pieces_files.cpp
    bool WaitForSpace(const TTaskFile &file, int64_t shortfall, QAutoLock &lock);
    bool OpenForUse(TTaskFile &file, bool writable);
    bool FileHasMissingWantedPieces(const TTaskFile &file) const;
    bool FileComplete(const TTaskFile &file) const;
    void GiveFinalName(TTaskFile &file);
    // Calls visit(file, diskOffset, piecePosition, bytes) for each file
    // segment of [offset, offset + length) of a piece, after preparing the
    // file; stops and returns false when visit or a preparation fails.
    template <typename Visit>
    bool ForEachSegment(int32_t piece, int32_t offset, int32_t length, bool writable, QAutoLock &lock, Visit visit);
    // pieces_store.cpp
    TPiece *PieceOfBlock(int64_t block, int32_t &offset) const;
    bool Complete(const TPiece &piece) const { return piece.verified || IsPieceComplete(piece.index); }
    int32_t StoreBlock(TPiece &piece, int32_t offset, const uint8_t *bytes, int32_t length);
    bool VerifyPiece(TPiece &piece, bool report);
    void ReportCorruptPiece(const TPiece &piece);
    void SetVerified(TPiece &piece, bool verified);
    void ForgetBlocks(TPiece &piece);
    void ForgetBlocksBelow(TPiece &piece, int32_t offset);
    void ResetPiece(TPiece &piece);
    int64_t WriteUnits(TPiece &piece, int32_t from, int32_t to);
    void LeavePartialList(int32_t index);
    // pieces_startup_check.cpp
    bool TakeOver(TPieces &previous);
    bool PieceOnDiskMatches(int32_t index);
    void MarkAllComplete();
    // pieces_resume.cpp
    bool FileStatesCurrent(const TResumeRecordReader &reader);
    void RestorePartialPieces(const TResumeRecordReader &reader);
    int32_t ReadWindow(const TPiece &piece, int32_t offset, int32_t length, int32_t hint, int32_t diskLimit) const;
    // pieces_cache.cpp
    bool VerifiedCacheFull() const;
    void FlushStalledPieces(int64_t now);
    void CountDownloaded();
    void Evict(int64_t now);

    IPiecesEventSink *owner;
    std::function<bool()> stopQuery;
    std::function<void(const TCorruptPieceReport &)> corruptReporter;
    std::string saveDirectory;
    const std::string targetPath;

    // File side.
    std::string name;
    int32_t pieceLength = 0;
    std::string pieceHashes;
    int32_t pieceCount = 0;
    int64_t totalLength = 0;
    std::vector<std::unique_ptr<TTaskFile>> files;
    int64_t checkedBytes = 0;
    int64_t wantedBytes = 0;
    int64_t wantedPieces = 0;
    int32_t doneOrUnwanted = 0;
    bool piecesSetUp = false;
    // Set when a write or allocation failed for lack of space.
    bool diskFullRaised = false;
    // Set while the start-up check reads: a missing file is an answer then,
    // not a failure to report.
    bool checkingFiles = false;
    // Files written since the last SyncFiles.
    std::set<int32_t> unsynced;

    // Task state file.
    TInfoHash infoHash;
    bool hasInfoHash = false;
    std::string resumeInput;
    std::string selectionInput;
    std::string spillPath;
    bool storeMode = false;
    std::vector<int32_t> partialPieces;
    // Pieces reset (or un-completed) since the last saved record: the record
    // on disk may still vouch for their old beginning, so none is written
    // before a new record is saved.
    std::set<int32_t> unvouched;

    // Piece side.
    std::unique_ptr<TPiece[]> pieces;
    std::vector<uint8_t> bitfield;
    int32_t completePieces = 0;
    int64_t verifiedBytes = 0;
    int32_t lastCompleted = -1;
    // Pieces whose store holds blocks, so passes skip the empty ones.
    std::set<int32_t> resident;
    int64_t cacheBytes = 0;
    int64_t verifiedInMemory = 0;
    int64_t downloadedBytes = 0;
    int64_t downloadedWithMemory = 0;
    int32_t cacheBudgetUnits = kDefaultCacheUnits;
    int64_t lastEviction = 0;
    int64_t readCount = 0;
    int64_t readHitCount = 0;
    std::vector<uint8_t> scratch;
};
