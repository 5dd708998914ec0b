#pragma once
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "engine/base/ref_object.h"
#include "engine/core/piece_range.h"
#include "engine/net/block_request.h"
#include "engine/net/peer_id.h"
#include "engine/net/peer_task.h"
#include "engine/net/qsocket.h"
#include "engine/storage/block_source.h"

// Connection stages.
enum : int32_t {
    PEER_STAGE_NONE = 0,
    PEER_STAGE_CONNECTING = 1,
    PEER_STAGE_USABLE = 2,
};

// What a peer is doing; the pool counts a dropped peer as a failure of its
// address unless it timed out or finished.
enum : int32_t {
    PEER_STATE_IDLE = 0,
    PEER_STATE_ACTIVE = 1,
    PEER_STATE_HANDSHAKEN = 2,
    PEER_STATE_WAITING = 4,
    PEER_STATE_TIMED_OUT = 5,
    PEER_STATE_FINISHED = 6,
};

// The abstract peer: what every kind must provide.
class TVirtualPeer {
public:
    virtual ~TVirtualPeer() = default;
    // Receive and parse what arrived; false drops the connection.
    virtual bool ReadInput() = 0;
    virtual bool FlushOutput() = 0;
    virtual bool PlanRequests() = 0;
    virtual bool ServeRequests() = 0;
    virtual void Reset() = 0;
};

struct TPeerCounters {
    bool attached = false;    // accepted from outside
    int64_t attachTime = 0;   // engine time of the last attach
    int64_t activityTime = 0; // engine time of the last attach, data or reply
    bool uploading = false;
    int32_t pendingBlocks = 0; // HTTP: queued blocks the current response delivers next
    int32_t idleCount = 0;
    int32_t currentPiece = -1;
};

struct TTickCounters {
    int64_t received = 0; // bytes received in the last tick
    int64_t sent = 0;     // bytes sent in the last tick
    int32_t speed = 0;    // bytes per second, kept by the statistics layer
    uint64_t totalSent = 0;
};

// The three-second accounting period of the statistics layer.
struct TPeriodCounters {
    int64_t payload = 0; // file data delivered
    int64_t sent = 0;
    int32_t downRate = 0; // bytes per second of the last period
    int32_t upRate = 0;
    bool choked = false;  // choked by the trim in this period
    bool served = false;
};

// The behaviour every peer kind shares: attaching to an address or an
// accepted socket, the per-tick cycle with its byte accounting, resetting,
// request planning over the task's piece ranges, and data delivery.
//
// A subclass (THttpPeer, and later the BitTorrent, tracker and FTP peers):
//   - is constructed as Subclass(IPeerTask *task) and passes its kind here;
//     the task's CreatePeer makes it (engine/net/peer_factory.cpp);
//   - must implement ReadInput: receive from socket, and hand every complete
//     16 KiB block to DeliverBlock (which checks it was asked for, stores it
//     and counts it); respect task->Meters().DownloadAllowance() before reading and
//     never read more than it allows;
//   - may override FlushOutput, PlanRequests (call TPeerObject::PlanRequests
//     for the base planning, which fills requests from NextPiece), Reset and
//     ReleaseRange (call the base first), AttachAddress (call the base first,
//     then connect socket; attaching again to the address already held is a
//     reconnect and takes no second reference), IsTimedOut (set state
//     PEER_STATE_TIMED_OUT and call ReleaseRange when it fires);
//   - closes its socket only through CloseSocket();
//   - calls RangeEnded() after a block completes to close a finished range;
//   - reports address trouble through task->Pool(): Penalize /
//     RemoveAddress / AddAddress / HostNotFound;
//   - stamps counters.activityTime when data or a reply arrives.
// Peers are used only on their task's worker thread.
class TPeerObject : public TVirtualPeer, public TRefObject, public IBlockSource {
public:
    TPeerObject(IPeerTask *task, int32_t kind);

    // Slot operations in order after ReadInput.
    bool FlushOutput() override { return true; }
    bool PlanRequests() override;
    bool ServeRequests() override { return true; }
    void Reset() override;
    virtual bool DownloadTick();
    virtual bool UploadTick();
    virtual bool SendRequests() { return true; }
    virtual bool AttachAddress(TPeerId *address);
    virtual bool AttachSocket(std::unique_ptr<QSocket> accepted);
    virtual bool Greet() { return true; }
    virtual bool CheckIncoming() { return true; }
    virtual bool IsUseless() { return false; }
    virtual bool IsFinished(bool ignoreIdle);
    virtual bool IsTimedOut() { return false; }
    virtual const TPeerCounters &GetCounters() const { return counters; }
    virtual bool IsConnected();
    // The handle a task may wait on for this peer's next data, -1 for none.
    virtual int32_t WaitHandle() const { return socket ? socket->WaitHandle() : -1; }
    // A reply the peer cannot go on without is due on WaitHandle.
    virtual bool AwaitsReply() const { return false; }
    virtual int32_t RemoteRate() { return 0; }
    virtual bool IsIdleLong() { return false; }
    virtual bool IsSeedLong() { return false; }
    virtual void CancelObtained() {}
    virtual bool IsSeed() { return true; }
    virtual void ReleaseRange();
    virtual int32_t NextPiece();

    // BitTorrent queries of the pool; the other kinds keep the defaults.
    virtual bool ChokedByUs() const { return false; }
    virtual void SetChoke(bool) {}
    virtual bool RemoteInterested() const { return false; }
    virtual int32_t RemotePieceCount() const { return 0; }
    // The remote's 20-byte peer id once known, else null.
    virtual const uint8_t *RemotePeerId() const { return nullptr; }
    // Pieces the task completed since the last statistics tick.
    virtual void AnnouncePieces(const std::vector<uint32_t> &) {}

    // Hands a received block to the piece layer: false when nobody asked for
    // it, when the bytes were refused or the piece failed its hash.
    bool DeliverBlock(int64_t block, int32_t length, const uint8_t *bytes);
    // After a block completed: closes the range when its last piece is done.
    // True when the range ended.
    bool RangeEnded();
    // Most requests worth queueing at the current speed.
    int32_t QueueLimit() const;
    // Socket speeds since connect, in bytes per second.
    int32_t UploadSpeed() const;
    int32_t DownloadSpeed() const;

    // Drops the requests for one piece (end game, the piece completed).
    void DropRequestsInPiece(int32_t piece, bool unsentOnly);
    // The task freed the range this peer pointed at.
    void ForgetRange() { range = nullptr; }
    // The task assigned a range to this peer.
    void TakeRange(TPieceRange *assigned)
    {
        range = assigned;
        ++rangesHeld;
    }
    // Closes the socket keeping its traffic counted for the current tick, so
    // a reconnect never hides bytes from the speed limit. Subclasses close
    // through this, never through the socket directly.
    void CloseSocket();
    // The same for another connection of the peer (FTP's data connection).
    void CloseCounted(QSocket &connection);

    // IBlockSource: the piece store's view of the delivering connection.
    void AddSourceReference() override { AddRef(); }
    void ReleaseSourceReference() override { Release(); }
    int32_t SourceKind() const override { return kind; }
    uint32_t SourceAddress() const override;
    uint16_t SourcePort() const override;
    void CountWholePiece() override;
    void CountBadPiece(int32_t piece) override;
    void ClearBadPieces() override;

    int32_t Kind() const { return kind; }
    TPeerId *Address() const { return address.Get(); }
    QSocket *Socket() const { return socket.get(); }
    TPieceRange *Range() const { return range; }
    IPeerTask *Task() const { return task; }

    int32_t stage = PEER_STAGE_NONE;
    int32_t state = PEER_STATE_IDLE;
    int32_t focusSnapshot = 0;
    std::deque<TBlockRequest> requests;
    std::deque<TBlockRequest> remoteRequests; // BitTorrent: the remote side's
    int32_t sentRequests = 0;                 // requests of the queue on the wire
    TPeerCounters counters;
    TTickCounters tick;
    TPeriodCounters period;
    int64_t totalKB = 0;
    int64_t totalBytes = 0;
    int32_t failures = 0;   // pieces of ours that failed their hash
    int32_t rangesHeld = 0; // ranges ever assigned
    int32_t lastFinishedPiece = -1;
    // Stall watch of the choke rounds: rounds without traffic, and the
    // socket totals at the last look.
    int32_t stalls = 0;
    uint64_t seenIn = 0;
    uint64_t seenOut = 0;

protected:
    ~TPeerObject() override;

    // Takes a range for this peer: continue or assign, else carve a new one
    // from the first run of open pieces. False when none is to be had.
    bool AcquireRange();
    // Whether the piece is still needed and none of our requests lies in it.
    bool IsOpenForUs(int32_t piece);
    // Gives up the range at the reader's focus piece and takes the part of
    // the range that holds it; the piece it yields, or -1.
    int32_t SplitAtFocus(int32_t focus);
    // Ends the range after its scan: scanned, reopened when any piece is
    // still open, freed when not.
    void CloseScannedRange();
    bool QueueHolds(int64_t block) const;
    // The server kinds' time-out: more than limit seconds since the last
    // activity, doubled while the peer trickles at 1..2047 bytes per second,
    // ends it as timed out and gives its range back.
    bool SilentLongerThan(int64_t limit);
    // Bytes the connection moved so far; FTP counts its data connection.
    virtual uint64_t TrafficIn() const;
    virtual uint64_t TrafficOut() const;
    // Runs the steps of a tick and turns the traffic into tick counters.
    template <typename Steps> bool Accounted(Steps steps);

    IPeerTask *task;
    const int32_t kind;
    TRef<TPeerId> address;
    TPieceRange *range = nullptr;
    std::unique_ptr<QSocket> socket;

private:
    // Traffic of the running tick: the counters at its start, and what
    // sockets closed during it had moved.
    uint64_t tickBaseIn = 0;
    uint64_t tickBaseOut = 0;
    uint64_t tickCarryIn = 0;
    uint64_t tickCarryOut = 0;
};
