#pragma once
#include <cstdint>
#include <string>

#include "engine/base/peer_kind.h"

// The connection that delivered a piece's blocks, as the piece store sees it:
// the store keeps it counted while it is a piece's source, judges it by the
// piece's hash and never touches it otherwise.
class IBlockSource {
public:
    virtual void AddSourceReference() = 0;
    virtual void ReleaseSourceReference() = 0;
    // One of PEER_KIND_BT, PEER_KIND_HTTP and PEER_KIND_FTP.
    virtual int32_t SourceKind() const = 0;
    // The remote IPv4 address in network order, and the port.
    virtual uint32_t SourceAddress() const = 0;
    virtual uint16_t SourcePort() const = 0;
    // It delivered a whole piece (judged good or bad).
    virtual void CountWholePiece() = 0;
    // A server source's piece failed its hash.
    virtual void CountBadPiece(int32_t piece) = 0;
    // One of its pieces passed its hash.
    virtual void ClearBadPieces() = 0;

protected:
    ~IBlockSource() = default;
};

// The report of a corrupt piece from a BitTorrent peer; the task sends it to
// the download report (event "11500102").
struct TCorruptPieceReport {
    std::string eventCode;
    std::string serverIp;  // the peer, "%d.%d.%d.%d : %d"
    int32_t pieceIndex = 0;
    std::string fileName;  // the task's target path
};
