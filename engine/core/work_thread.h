#pragma once
#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "engine/core/bt_handshake.h"
#include "engine/core/data_read.h"
#include "engine/core/engine_interface.h"
#include "engine/core/work_with_trans_statis.h"
#include "engine/storage/pieces_event.h"

// One download task: the worker thread with its main loop, and the
// operations the engine interface calls. Interface calls take the task's own
// lock around the settings and the published snapshot; the worker owns the
// live state.
class TWorkThread : public TWorkWithTransStatis, public ITaskAnnounce, public ITaskSwarm {
public:
    TWorkThread();
    ~TWorkThread() override;

    void Run() override;
    void Refresh() override;

    int32_t StartDownload();
    int32_t ContinueDownload();
    int32_t ResumeDownload();
    int32_t StopDownload();
    int32_t PauseDownload();
    int32_t RestartDownload();

    void GetInfo(TTaskInfo *info);
    void GetDetail(TTaskDetail *detail);
    void GetDataMismatch(TTaskDataMismatch *out);
    bool IsComplete();
    // BitTorrent connections may go over the UDP transport: this host is not
    // known to be reachable from outside, and its public address is known.
    bool WantsUdp() const override;
    int32_t SetSpeedLimit(int32_t kind, int32_t value);
    int32_t SetPeerLimits(int32_t servers, int32_t peers);
    int32_t GetPieceMap(void *buf, int32_t len);
    int32_t GetPieceMapSize();
    int32_t AddMirrors(const char *urls, const char *hosts);
    int32_t ClearMirrors();

    // Reading the task's data (work_thread_reads.cpp). BeginRead registers a
    // read, or settles it at once (done) when the published size already
    // rules on it; ReadData then waits for the worker to serve it and takes
    // it off the list. The task is not destroyed while a read is registered,
    // so the wait needs no engine lock.
    void BeginRead(TDataRead &read);
    int32_t ReadData(TDataRead &read);
    // The worker's part, every round: serves the registered reads whose
    // bytes are present and makes the piece the oldest other one waits for
    // the focus of the scheduling.
    void ServeReads();

    // Queries of the published status and data file (work_thread_queries.cpp).
    void GetTorrentInfo(TTaskTorrentInfo *info);
    int32_t GetSecondsLeft(int32_t *seconds);
    int32_t GetSpeed(int32_t *bytesPerSecond);
    int32_t GetSnapshotValue(int32_t counter, int64_t *value);
    int32_t FileCount();
    // Size of file n; -1 when there is no such file.
    using TWorkWithPieces::FileSize;
    int64_t FileSize(int32_t file);
    int32_t GetFileInfo(int32_t file, TTaskFileInfo *info);
    int32_t AppendNote(const char *line);
    int32_t GetNotes(char *buffer, int32_t len);

    // Publishes the live status (and, when asked, the have-map) for the
    // interface queries. Without wait it does nothing if the lock is busy.
    void Flush(bool rebuild, bool wait);

    // One round of the main loop; returns the task clock.
    int64_t Step();
    void OnDataFileEvent(const TPiecesEvent &event) override;
    void Reset(bool release, bool full) override;

    // Builds the handshake and peer id once the info hash is known, and joins
    // the swarm for incoming connections.
    void BuildHandshake();

    // How the last run ended.
    bool EndedWithError() const { return error; }
    bool EndedTimedOut() const { return timedOut; }

    bool IsStopping() override { return stopping; }

    // ITaskAnnounce: the tracker clients' view of the task.
    ITaskAnnounce &Announce() override { return *this; }
    bool FillAnnounceFacts(TAnnounceFacts &facts, bool freshPeerId) override;
    bool AddTrackerPeer(const TTrackerPeerAddress &peer) override;
    // ITaskSwarm (work_thread_swarm.cpp).
    ITaskSwarm &Swarm() override { return *this; }
    const uint8_t *Handshake() override;
    const std::vector<uint8_t> &HaveMap() override { return haveMap; }
    int32_t ReadBlock(int64_t block, int32_t length, uint8_t *buffer) override;
    bool MarkInProgress(int32_t piece) override { return Scheduling().MarkInProgress(piece); }
    bool PickPending(TPeerObject &peer, const std::vector<uint8_t> &remoteHave, int32_t most) override;
    bool WaitsForServers() override { return Scheduling().WaitsForServers(); }
    int32_t RandomStartPiece() override { return TWorkWithPieces::RandomStartPiece(); }
    TPeerId *AddressOfIncoming(uint32_t address, int32_t port) override;
    bool DuplicatePeer(const TPeerObject &peer, const uint8_t *peerId) override;

protected:
    // Loads the local torrent and opens the data file; false when the task
    // has nothing to work from.
    virtual bool Prepare();

    // Hooks of the lower layers.
    TRef<TPeerObject> CreatePeer(int32_t kind) override;
    bool DownloadComplete() override { return completed; }
    void PublishStatus(bool rebuild, bool wait) override { Flush(rebuild, wait); }
    const uint8_t *OwnPeerId() override;

private:
    void MainRoutine();
    void LoopBody(bool &complete);
    void ReleaseLocksOfDeadBody();
    // Waits out the round's pause, returning early when a flowing connection
    // has data to read.
    void PauseRound();
    // Waits until no reader is registered; readers leave once the worker
    // has stopped.
    void WaitForReaders();
    // The torrent's trackers become candidates; https ones are left out.
    void AddTorrentTrackers();

    // Run state, cleared by Reset.
    bool error = false;
    bool timedOut = false;
    // Every source left sends data that fails the hashes.
    bool dataMismatch = false;
    // The loop has ended: blocks given back are dropped, not parked.
    bool stopping = false;
    uint32_t lastCandidateSeconds = 0;
    uint32_t lastTrimSeconds = 0;
    uint32_t trimRounds = 0;
    uint32_t lastLanSeconds = 0;
    uint32_t lastTickSeconds = 0;
    uint32_t lastRateSeconds = 0;
    uint32_t lastDispatchTick = 0;
    bool firstRoundsDone = false;

    std::optional<TBtHandshake> handshake;

    // Registered reads, oldest first, under the task's lock; the count lets
    // the worker skip the lock while nobody reads.
    std::vector<TDataRead *> reads;
    std::atomic<int32_t> readCount{0};
    uint64_t lastReadSerial = 0;
    // The worker's buffer for reads, so the disk is read without the lock.
    std::vector<uint8_t> readScratch;
};
