#pragma once
#include <array>
#include <cstdint>
#include <vector>

#include "engine/net/bt_wire.h"
#include "engine/net/peer_object.h"

// A connection to a BitTorrent peer, dialled or accepted. After the 68-byte
// handshake (behind an HTTP disguise when the engine asks for one) it sends
// its bitfield, interested and unchoke, keeps the remote's have-map, picks
// pieces the remote has, pipelines block requests, and serves the remote's
// requests from verified pieces.
//
// Checked before anything is stored or answered: the handshake names the
// task's info hash and is not our own; a message's length is at most
// 512 KiB and its fields arrived; a have or bitfield stays inside the
// piece count; a request, cancel or piece names a block inside one piece on
// a 16 KiB boundary of at most 16 KiB; a piece's data matches a request of
// ours (or the task's pending list). A malformed message is skipped on its
// own and counted as a failure; the connection goes on.
class TBTPeer : public TPeerObject {
public:
    // Limits of the connection.
    static constexpr int64_t kConnectSeconds = 22;
    // The UDP transport first asks the rendezvous server where the peer is.
    static constexpr int64_t kUdpConnectSeconds = 28;
    static constexpr int64_t kHandshakeSeconds = 12;
    static constexpr int64_t kKeepAliveSeconds = 90;
    static constexpr int32_t kMaxInFlight = 250;
    static constexpr size_t kMaxRemoteRequests = 500;
    // The remote's requests answered while the handshake is due fit in this.
    static constexpr int32_t kHandshakeReadFloor = 192;

    explicit TBTPeer(IPeerTask *task);

    bool ReadInput() override;
    bool FlushOutput() override;
    bool PlanRequests() override;
    bool ServeRequests() override;
    void Reset() override;
    bool SendRequests() override;
    bool AttachAddress(TPeerId *address) override;
    bool Greet() override;
    bool CheckIncoming() override;
    bool IsUseless() override;
    int32_t RemoteRate() override;
    bool IsIdleLong() override;
    bool IsSeedLong() override;
    void CancelObtained() override;
    bool IsSeed() override;
    int32_t NextPiece() override;
    virtual bool SendHandshake();

    bool ChokedByUs() const override { return weChoke; }
    void SetChoke(bool choke) override;
    bool RemoteInterested() const override { return remoteInterested; }
    int32_t RemotePieceCount() const override { return remotePieces; }
    const uint8_t *RemotePeerId() const override;
    void AnnouncePieces(const std::vector<uint32_t> &pieces) override;

    // Blocks we asked for are on their way: the task waits on the socket
    // rather than sleeping past them.
    bool AwaitsReply() const override { return sentRequests > 0 && !remoteChokes; }
    bool RemoteChokes() const { return remoteChokes; }
    const std::vector<uint8_t> &RemoteHave() const { return remoteHave; }
    bool HandshakeDue() const { return stage == PEER_STAGE_CONNECTING; }
    // The outgoing attempt went out behind the HTTP disguise.
    bool SentDisguised() const { return sentDisguised; }
    bool OverUdp() const { return socket && socket->IsOverUdp(); }

protected:
    ~TBTPeer() override = default;

private:
    // --- connection and handshake (bt_peer.cpp) ---
    bool Connect();
    bool WrapOutgoing() const;
    // A disguised attempt that ended before the handshake answer: dial the
    // address again at once, plainly, and remember it as plain.
    bool RetryPlain();
    // Strips a disguise header, waits for the 68 bytes, checks them and
    // opens the session: 1 opened, 0 wait, -1 refused.
    int TakeHandshake();
    void OpenSession();
    // Most bytes one read may take; 0 skips reading.
    int32_t ReadSize();
    bool ReceiveSome();
    // Appends to the send buffer and pushes what the socket takes.
    bool SendBytes(const std::vector<uint8_t> &bytes);
    bool IsOurEngine() const;
    TBtGeometry Geometry();

    // --- messages (bt_peer_messages.cpp) ---
    // Parses every complete message buffered; false drops the connection.
    bool ParseMessages();
    bool HandleMessage(const TBtMessage &message);
    void TakeChoke(bool choked);
    bool TakeHave(const TBtMessage &message);
    bool TakeBitfield(const TBtMessage &message);
    void TakeRequest(const TBtMessage &message, bool cancel);
    bool TakePiece(const TBtMessage &message);
    void TakeCannotServe(uint32_t piece);
    void NotePartialPiece(const uint8_t *data, int32_t length);
    // Reacts to the remote's choke changing while reading.
    bool AfterChokeChange(bool wasChoked);
    // Our requests back to the pending list; sent ones are cancelled.
    void ReturnRequests(bool cancelSent);

    // --- requests (bt_peer_requests.cpp) ---
    // The remote has it, the task needs it, none of our requests lies in
    // it, and the task agreed to mark it as being fetched.
    bool Pickable(int32_t piece);
    bool QueuedIn(int32_t piece) const;
    int32_t PickFromRanges();
    int32_t PickFromOwnRange();
    // Claims the highest run of open pieces of at least 24 blocks in the
    // range's tail as this peer's own range.
    bool CarveRange(TPieceRange &from, int32_t low);
    int32_t PickFromGroups();
    void QueuePiece(int32_t piece);
    int32_t InFlightTarget() const;
    // Sends queued requests until in flight reaches target.
    bool TopUp(int32_t target);

    // --- upload (bt_peer_upload.cpp) ---
    bool ServeOne(const TBlockRequest &request, std::vector<uint8_t> &out);
    void SendKeepAliveWhenQuiet();

    std::array<uint8_t, 68> handshakeCopy{};
    std::array<uint8_t, 20> remoteId{};
    bool remoteIdKnown = false;
    std::vector<uint8_t> remoteHave;
    bool weChoke = true;
    bool remoteChokes = true;
    bool remoteInterested = false;
    bool nothingToPick = false;
    int32_t remotePiecesAtBitfield = 0;
    int32_t remotePieces = 0;
    int32_t lastHave = -1;
    int64_t nothingToPickTime = 0;
    int64_t chokeTime = 0;
    int64_t seedTime = 0;
    int64_t planTime = 0;
    int64_t lastSendTime = 0;
    // Engine time the connect was first seen complete; 0 before.
    int64_t connectedTime = 0;
    bool remoteHasPieces = false;
    bool partialPiece = false;
    int32_t partialNoted = 0;
    int32_t flushToggle = 0;
    bool handshakeSent = false;
    bool sentDisguised = false;
    bool retriedPlain = false;
    // Bytes read in this round; the buffer is kept when many arrive.
    int32_t readThisRound = 0;
    // One block read from the piece store for serving.
    std::vector<uint8_t> transfer;
};
