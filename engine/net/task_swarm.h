#pragma once
#include <cstdint>
#include <vector>

class TPeerId;
class TPeerObject;

// What a BitTorrent connection asks of its task beyond the roles every peer
// kind shares: the handshake and have-map it shows, the pieces it serves,
// the in-progress marks and pending blocks of the pickers, and the pool's
// bookkeeping of accepted connections.
class ITaskSwarm {
public:
    // The task's 68-byte handshake; null while the info hash is unknown.
    virtual const uint8_t *Handshake() = 0;
    // One bit per piece, most significant bit first.
    virtual const std::vector<uint8_t> &HaveMap() = 0;
    // Copies a verified block for uploading: the bytes copied, 0 or less
    // when it cannot be read.
    virtual int32_t ReadBlock(int64_t block, int32_t length, uint8_t *buffer) = 0;

    virtual bool MarkInProgress(int32_t piece) = 0;
    // Moves pending blocks of a piece the remote has onto the peer's queue.
    virtual bool PickPending(TPeerObject &peer, const std::vector<uint8_t> &remoteHave, int32_t most) = 0;
    // Server sources are connected but have no ranges yet, early in the run.
    virtual bool WaitsForServers() = 0;
    // Where a connection starts scanning the wanted pieces.
    virtual int32_t RandomStartPiece() = 0;

    // The candidate for an accepted connection's address, created when none
    // is known; null when the pool refuses it.
    virtual TPeerId *AddressOfIncoming(uint32_t address, int32_t port) = 0;
    // Another connected peer of the task has this peer id, or this address
    // and port.
    virtual bool DuplicatePeer(const TPeerObject &peer, const uint8_t *peerId) = 0;
    // Connections may go over the UDP stream transport: this host is not
    // known to be reachable from outside, and its public address is known.
    virtual bool WantsUdp() const = 0;

protected:
    ~ITaskSwarm() = default;
};
