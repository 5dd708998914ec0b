#pragma once
#include <cstdint>
#include <deque>
#include <vector>

#include "engine/net/stream_packet.h"

// One connection of the stream transport (or a listener). Sequences and
// attempt numbers wrap: they are only ever compared by difference. Every
// window is `window` packets long, a per-connection value, so a larger
// negotiated window needs no reshaping.
enum TStreamState : int32_t {
    STREAM_NEW = 0,
    STREAM_INTRODUCING = 1, // waiting for the rendezvous server's answer
    STREAM_CONNECTING = 2,  // remote endpoint known, connects going out
    STREAM_HALF_OPEN = 3,   // incoming, accept sent
    STREAM_ESTABLISHED = 5,
    STREAM_CLOSED = 6,
    STREAM_BOUND = 7,
    STREAM_LISTENING = 8,
};

// A packet of the send window, kept encoded so a re-send is one send.
struct TStreamSendSlot {
    std::vector<uint8_t> datagram;
    int32_t payloadLength = 0;
    bool used = false;
    bool acknowledged = false;
    bool sent = false; // a flag, not tick 0: the tick may be 0 legitimately
    uint32_t sentTick = 0;
    uint32_t retries = 0;
};

struct TStreamReceiveSlot {
    std::vector<uint8_t> payload;
    bool filled = false;
};

struct QUSocket {
    static constexpr int32_t kDefaultWindow = 12;

    int32_t handle = 0;
    TStreamState state = STREAM_NEW;
    bool pending = false; // an incoming connection not yet handed out
    // Closed by its owner with data still unacknowledged: it lives on,
    // without a handle, until the data is through or the connection fails.
    bool closing = false;
    bool incoming = false;
    bool connected = false;
    // The Winsock number a failed connect reports (refused or timed out).
    int32_t failure = 0;

    uint32_t localConnectionId = 0;
    uint32_t remoteConnectionId = 0;
    uint8_t remoteIdentity[kStreamIdentityBytes] = {};
    uint32_t remoteIp = 0;
    int32_t remotePort = 0;
    // The port as the requester first named it (offset 32 of the connect).
    uint32_t requestedPort = 0;
    int32_t servicePort = 0;
    uint32_t attempt = 0;
    int32_t requestId = -1;

    uint32_t lastControlSequence = 0;
    bool heardControl = false;
    uint32_t packetCounter = 0;
    uint32_t lastHeardTick = 0;
    uint32_t lastIntroductionTick = 0;
    // A connect arrived since the last timer round: only then is a half-open
    // accept repeated, so a spoofed connect earns no stream of accepts.
    bool connectSeen = false;

    int32_t window = kDefaultWindow;
    // Sending: sequences sendBase .. nextSendSequence-1 are in the window,
    // slot = sequence mod window.
    uint32_t sendBase = 0;
    uint32_t nextSendSequence = 0;
    std::vector<TStreamSendSlot> sendSlots;
    // Bytes taken by Send that wait for a free slot: backlog[backlogStart..].
    std::vector<uint8_t> backlog;
    size_t backlogStart = 0;
    // Receiving: slot = sequence mod window for nextExpected .. +window-1.
    uint32_t nextExpected = 0;
    uint32_t remoteSendBase = 0;
    std::vector<TStreamReceiveSlot> receiveSlots;
    // In-order payloads for Recv; an empty one is the remote side's end mark.
    std::deque<std::vector<uint8_t>> ready;
    size_t readyOffset = 0;
    size_t readyBytes = 0;

    bool ackDue = false;
    uint32_t lastAckTick = 0;

    uint64_t bytesAcknowledged = 0;
    uint64_t bytesReceived = 0;
    uint64_t packetsSent = 0;
    uint64_t retransmissions = 0;
    uint32_t statisticsStartTick = 0;

    void SizeWindows();
    size_t BacklogBytes() const { return backlog.size() - backlogStart; }
    void AppendBacklog(const uint8_t *data, size_t length);
    // Moves up to most bytes of the backlog's front to out; the count moved.
    size_t TakeBacklog(uint8_t *out, size_t most);
    void FreeBuffers();
    int32_t SendCount() const { return static_cast<int32_t>(nextSendSequence - sendBase); }
    // Offset of sequence from the next expected one, negative when older.
    int32_t ReceiveOffset(uint32_t sequence) const { return static_cast<int32_t>(sequence - nextExpected); }
    TStreamSendSlot &SendSlot(uint32_t sequence) { return sendSlots[sequence % sendSlots.size()]; }
    TStreamReceiveSlot &ReceiveSlot(uint32_t sequence) { return receiveSlots[sequence % receiveSlots.size()]; }
    // Loss in percent (50 until enough was sent to tell).
    int32_t LossRate() const;
    int32_t SendLimit() const;
    int32_t PayloadSize() const;
};

// Newer when larger, or smaller by more than 2^24 - 1 (the counter wrapped).
bool IsNewerAttempt(uint32_t candidate, uint32_t than);
// Sequence a is after b, by signed difference.
inline bool SequenceAfter(uint32_t a, uint32_t b)
{
    return static_cast<int32_t>(a - b) > 0;
}
