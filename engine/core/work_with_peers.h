#pragma once
#include <array>
#include <atomic>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "engine/core/base_work.h"
#include "engine/core/scheduler_pool.h"
#include "engine/net/listening_service.h"
#include "engine/net/peer_object.h"
#include "engine/net/peer_task.h"

// Source-entry marks kept by the peer pool.
enum : int {
    SOURCE_MARK_NEW = 0,
    SOURCE_MARK_MAIN_UNUSED = 1,
    SOURCE_MARK_IN_USE = 16,
    SOURCE_MARK_MAIN_IN_USE = 17,
};

// Origins of candidate addresses; higher ranks first.
enum : int32_t {
    ORIGIN_BT_MINIMUM = 19,
    ORIGIN_DEMOTED_FLOOR = 20,
    ORIGIN_FTP_HOST = 28,
    ORIGIN_SOURCE = 29,
    ORIGIN_LAN = 35,
};

// The peer layer of a task: candidates (addresses it may connect to),
// connections and connections being closed, their limits and upkeep. Runs on
// the task's worker; the interface only sets limits and mirrors under the
// task's lock.
class TWorkWithPeers : public TBaseWork,
                       public IPeerTask,
                       public ITaskMeters,
                       public ITaskPool,
                       public ISchedulerPool {
public:
    static constexpr int32_t kDefaultMaxServers = 49;
    // Before the application sets limits a task may still use peers, so one
    // whose server is dead is not stuck.
    static constexpr int32_t kDefaultMaxPeers = 50;
    // The candidate list never grows past this; the worst are evicted.
    static constexpr size_t kMaxCandidates = 2000;
    // Rate above which a connection is serviced every round.
    static constexpr int32_t kFastRate = 28671;

    TWorkWithPeers();
    ~TWorkWithPeers() override;

    // Set by the interface thread, read by the worker.
    std::atomic<int32_t> maxServers{kDefaultMaxServers};
    std::atomic<int32_t> maxPeers{kDefaultMaxPeers};
    // Written by the interface under the task's lock; the worker copies them
    // under the same lock.
    std::vector<std::string> mirrorUrls;
    std::vector<std::string> mirrorHosts;
    bool hasMirrors = false;
    // Text lines a front-end attached to the task, each ended by CR LF.
    // Under the task's lock.
    std::string notes;

    void SetPeerLimitsLocked(int32_t servers, int32_t peers);
    void AddMirrorsLocked(const char *urls, const char *hosts);
    void ClearMirrorsLocked();

    // After a stop: sources in use become idle again; the main source is
    // processed again while the task has no torrent yet.
    void ReleaseSourceMarks();

    virtual bool HasMetadata() { return false; }
    virtual void Reset(bool release, bool full);

    // --- driven by the main loop ---
    // Every 15 s: sources to candidates, unresolved hosts retried, further
    // addresses of multi-address hosts added.
    virtual void MaintainCandidates();
    virtual bool HasCandidates() { return !candidates.empty(); }
    // Every 400 ms: the engine-wide accept and the hand-out of incoming
    // connections to this task.
    virtual void DispatchIncoming();
    // Every main-loop round: send and receive on the connections due.
    virtual void ServiceConnections(bool tickRound);
    // True when every remaining connection has been a tracker for the given seconds.
    virtual bool OnlyTrackersFor(uint32_t seconds);
    virtual void JoinSwarm();
    virtual void LeaveSwarm();
    // Every 10 s: the LAN exchange, while the engine is in the LAN group and
    // the torrent is known.
    virtual void LanExchange();

    // --- candidates ---
    bool AddCandidate(TPeerId *address, bool fromPeer, bool forceId);
    TPeerId *AddBtAddress(uint32_t ip, int32_t port, int32_t kind, bool first, int32_t origin);
    void ProcessSources();
    void RetryUnresolved();
    void ExpandHosts();
    void AddMirrors(int32_t count, bool connectNow);
    void ReAddSourceBackup(bool connectNow);
    void RemoveDuplicates();
    void SortCandidates();
    // Whether a connect round may use the candidate now (counts down its back-off).
    bool Eligible(TPeerId &candidate);

    // --- connections ---
    void ConnectServers();
    void ConnectPeers();
    void DropConnections(int32_t kindMask, int32_t count, bool onlyBad);
    // Takes a connection off the list, resets it onto the closing list and,
    // with a positive penalty, penalizes its address.
    void RemoveConnection(TPeerObject *peer, int32_t penalty);
    void SortConnections();
    int32_t ServerConnectionCount();
    int32_t PeerConnectionCount();
    // Connections the room test counts as still being established.
    int32_t EstablishingCount();

    // --- three-second upkeep ---
    void TrimPeers();
    void ChokeRound();
    void DropBadServers();
    // A server was dropped because its data fails the hashes, and neither a
    // server address nor a BitTorrent connection is left to deliver a
    // verified piece: the task cannot complete.
    bool OnlyBadDataLeft();
    // End of every statistics tick: mirrors rotated in, slow servers out.
    void RotateServers();

    // --- incoming ---
    bool AcceptIncoming(QSocket &socket);
    bool OfferIncomingPeer(std::unique_ptr<QSocket> &socket);

    // The statistics layer counts a connection's tick.
    virtual void CountTick(TPeerObject &peer) = 0;

    // IPeerTask: the meters are the statistics layer's, the pool is this.
    ITaskMeters &Meters() override { return *this; }
    ITaskPool &Pool() override { return *this; }

    // ITaskPool.
    bool AddAddress(TPeerId *address) override;
    void Penalize(TPeerId *address, TPeerObject *connection, int32_t amount) override;
    void RemoveAddress(TPeerId *address) override;
    void SourceFailed(TPeerId *address, const std::string &why, bool givenUp) override;
    void HostNotFound() override;
    void SetPhase(int32_t phase) override { live.phase = phase; }

    // ISchedulerPool (the clock is the statistics layer's, stopping the worker's).
    const std::vector<TRef<TPeerObject>> &Connections() override { return connections; }
    const std::vector<TRef<TPeerId>> &Candidates() override { return candidates; }
    uint32_t SecondsRunning() override;

    std::vector<TRef<TPeerId>> candidates;
    std::vector<TRef<TPeerObject>> connections;
    std::vector<TRef<TPeerObject>> closing;

    // Round pacing, set by the statistics layer.
    int32_t servicePeriod = 5;
    // The next round services every connection: data arrived on one that
    // is not due before the next full round.
    bool serviceAllNext = false;
    int32_t uploadSlots = 6;
    int64_t lastSecondUpload = 0;

    // The worst server dropped for data that fails the hashes in this run,
    // and the URLs of every such server, never taken back as candidates.
    TBadDataVerdict badData;
    std::vector<std::string> badDataUrls;

protected:
    // --- hooks the upper layers fill ---
    // A new peer object of the kind, or null when the kind is not available.
    virtual TRef<TPeerObject> CreatePeer(int32_t kind) = 0;
    virtual bool DownloadComplete() = 0;
    virtual int32_t MissingPieceCount() = 0;
    // A server reported the size of the resource.
    virtual void OnServerSize(TPeerId &address) = 0;
    // The main torrent source delivered a torrent file.
    virtual bool AdoptFetchedTorrent(const std::string &content) = 0;
    // The task's own BitTorrent peer id, null before the handshake is built.
    virtual const uint8_t *OwnPeerId() { return nullptr; }
    virtual const uint8_t *InfoHash() { return nullptr; }
    // Incoming connections over the UDP transport are taken only while the
    // task dials over it too.
    virtual bool WantsUdp() const = 0;
    // Publishes the live status (Flush of the task).
    virtual void PublishStatus(bool rebuild, bool wait) = 0;

    enum class TOpenResult { Opened, AttachFailed, Unsupported };
    // Opens one connection to the candidate.
    TOpenResult OpenConnection(TPeerId &candidate);
    // Opens a connection at once when the candidate may take one.
    void ConnectNow(TPeerId &candidate);
    void TakeFetchedTorrent();
    void ReleaseClosing(bool all);
    void ResetPeers();

    // The task's ranges are marked reopened for a dropped bad server.
    virtual void ReopenRangesOf(TPeerObject &) {}
    // Average download rate since the worker started (statistics layer).
    virtual int64_t AverageIn() { return 0; }

private:
    // The task's LAN discovery state: announced since the last reset, and
    // the peer id it registered as the engine's own.
    bool lanAnnounced = false;
    std::optional<std::array<uint8_t, 20>> lanOwnPeerId;
    // Forgets the task's LAN state and empties the engine's LAN list.
    void ResetLanDiscovery();

    void InsertCandidate(TRef<TPeerId> candidate, bool randomPosition);
    // Adds a parsed source or mirror (origin 29), connecting at once when
    // asked.
    void AddSourceAddress(TPeerId *address, bool connectNow);
    void EvictWorstCandidates();
    void ServiceUploads(bool tickRound, bool slowPeriod);
    void NoteSizeOf(TPeerObject &peer);
    bool TakeIncoming(std::unique_ptr<QSocket> &socket);

    // Mirror draws continue one sequence, seeded from the calendar time.
    std::minstd_rand mirrorRandom;
    bool mirrorRandomSeeded = false;
    std::vector<TSourceEntry> sourceBackup;
    bool sourceBackupTaken = false;
    bool candidatesDirty = false;
    int32_t idleConnectRounds = 0;
    int64_t lastServerConnect = -1;
    int64_t lastPeerConnect = -1;
    int64_t lastMirrorRotation = 0;
    int64_t lastServerRotation = 0;
    uint32_t round = 0;
    uint32_t roundsSinceTick = 0;
    uint32_t chokeRounds = 0;
    bool swarmJoined = false;
    TListenerStatus listenerStatus;
};
