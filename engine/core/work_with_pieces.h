#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "engine/core/work_with_peers.h"

// The piece layer of a task: the have-map (one bit per piece, most
// significant bit first), the data file and the scheduler. The data-file
// operations are virtual so that the storage layer fills them in.
class TWorkWithPieces : public TWorkWithPeers {
public:
    // Written by the worker.
    std::vector<uint8_t> haveMap;
    // What GetTaskPieceMap reads; replaced by Flush under the task's lock.
    std::vector<uint8_t> publishedHaveMap;
    uint32_t publishedPieceCount = 0;
    bool haveMapToPublish = false;
    // Pieces completed since the last statistics tick, to be announced.
    std::vector<uint32_t> newPieces;
    // Records the data file hands over for the task state file.
    std::vector<uint8_t> selectionRecord;
    std::vector<uint8_t> resumeBits;
    bool selectionRecordDirty = false;
    bool resumeBitsDirty = false;
    bool reopenRequested = false;

    // Copy of the published map into buf; the caller holds the task's lock.
    int32_t CopyPublishedHaveMap(void *buf, int32_t len) const;
    int32_t PublishedHaveMapSize() const { return static_cast<int32_t>(publishedHaveMap.size()); }
    // Sets or clears a piece's bit; indices past the map are ignored.
    bool SetHaveBit(int64_t piece, bool on);

    void Reset(bool release, bool full) override;

    // Loads torrent metainfo read from a local file; false when it is not one.
    virtual bool LoadTorrent(const std::string &) { return false; }
    // Opens (creating when needed) the data file for the known metainfo.
    virtual void OpenDataFile() {}
    virtual bool HasDataFile() { return false; }
    // The data file's pieces are set up and its start-up check has finished.
    virtual bool PiecesReady() { return false; }
    virtual bool StartupCheckFinished() { return false; }
    // Copies the data file's piece counters (and with bytes, its byte counts) into the live status.
    virtual void CopyPieceCounters(bool) {}
    // Lets the data file finish pending writes and flushes.
    virtual void DataFileUpkeep() {}
    virtual void RemoveFromInProgress(uint32_t) {}
    // True once every piece is verified; clock 0 forces the final check.
    virtual bool CheckComplete(int64_t) { return false; }
    virtual void PendingUpkeep() {}
    virtual void ReopenDataFile() { reopenRequested = false; }
    // The torrent's info hash (null while unknown) and name.
    virtual const uint8_t *InfoHash() { return nullptr; }
    virtual std::string TorrentName() { return std::string(); }
    // Path of file n of the data file (its final name), empty when unknown.
    virtual std::string DataFilePath(int) { return std::string(); }

    // The task state file with its resume record.
    virtual void LoadResumeRecord() {}
    virtual void SaveResumeRecord() {}
    virtual void DeleteResumeRecord() {}
};
