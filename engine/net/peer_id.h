#pragma once
#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/base/peer_kind.h"
#include "engine/base/ref_object.h"

// Longest peer URL accepted, before and after normalisation.
constexpr size_t kMaxPeerUrlBytes = 4096;

// The parts of a URL, created on demand, and what the HTTP and FTP sources
// learn about the resource while they fetch it.
struct TUrlParts {
    std::string host;
    // Every address the host resolved to (network order); the one in use is
    // rotated to the back so that the next parse takes the next one.
    std::vector<uint32_t> resolved;
    std::string user;
    std::string password;
    std::string path;         // FTP: the path after the host
    std::string query;        // tracker: after '?'
    std::string trackerScheme; // tracker: the inner scheme ("http", "udp" ...)
    std::string requestPath;  // HTTP: after the host, query included; tracker: up to '?'
    std::string fileName;

    // Filled by the sources.
    int64_t serverSize = 0; // size the server reported, 0 while unknown
    bool wholeContent = false; // fetch the resource whole into content
    std::string content;
    bool contentComplete = false;
    std::string referer;
    std::string lastRedirect;
    int32_t redirectCount = 0;
    int32_t redirectHops = 0; // redirects followed to reach this URL
    bool redirected = false;
};

// The address record of a remote party: what its URL says, and the pool's
// bookkeeping of it as a candidate. Shared by reference between the pool's
// lists, peer objects and piece ranges.
class TPeerId : public TRefObject {
public:
    TPeerId() { peerId.fill(0); }

    // Parses a peer URL ("http://", "ftp://", "tracker://<url>",
    // "btnode://a.b.c.d:port") and resolves its host (a name may take up to
    // 3 s). False for an unknown scheme, a bad port, an overlong URL or a host
    // that does not resolve (address kNoAddress, invalidHost set). Parsing the
    // same record again takes the host's next address.
    bool Parse(const std::string &text);

    // Whether two records denote the same remote party.
    bool SameParty(const TPeerId &other) const;

    // The URL parts, created when first asked for.
    TUrlParts &Parts();
    const TUrlParts *PartsIfAny() const { return parts.get(); }
    bool IsServer() const { return IsServerKind(kind); }
    bool HasValidAddress() const;

    // Servers: a piece whose data failed its hash this often from the
    // address will not verify from it; the pool condemns such a server.
    static constexpr int32_t kPieceFailuresToCondemn = 3;
    bool NeverVerifies(int32_t piece) const;
    // The piece that failed most often from the address (the lowest of
    // equals) and its failures; {-1, 0} when none failed.
    std::pair<int32_t, int32_t> WorstPiece() const;

    // A copy for another address of the same host (ExpandHosts): the URL,
    // kind, port and URL parts, none of the pool's counters.
    TRef<TPeerId> CopyForAddress(uint32_t otherAddress) const;

    // Address fields.
    bool parsed = false;
    bool invalidHost = false;
    int32_t port = 0; // host order
    std::array<uint8_t, 20> peerId;
    std::string url;
    uint32_t address = 0xFFFFFFFFu; // network order
    int32_t kind = 0;
    int32_t trackerTransport = 0; // kind 8: 1 HTTP/TCP, 0 UDP

    // Pool fields.
    int32_t origin = 0;     // where the address came from; higher ranks first
    int32_t backOff = 0;    // connect rounds to wait
    int32_t failures = 0;
    int32_t useCount = 0;   // connections open to it now
    int32_t attempts = 0;   // connections ever opened
    int32_t allowance = 1;  // connections allowed at once (servers)
    int64_t lastConnect = 0;
    int32_t outcomes = 0;        // whole pieces delivered (servers)
    int32_t failedOutcomes = 0;  // consecutive pieces that failed their hash
    // Servers: hash failures of each piece, kept across good pieces so that
    // one piece that never verifies is seen among many that do.
    std::map<int32_t, int32_t> pieceFailures;
    int32_t reconnects = 0;      // HTTP: new connections for a new start offset
    int32_t announceInterval = 0; // tracker: seconds it asked between announces
    bool mainTorrent = false;    // stands for the task's main torrent source
    bool hold = false;           // set by a transport: keep its connections
    bool failedMark = false;     // the last connection to it failed
    bool recentlyUnreachable = false;
    // BitTorrent: dialled without the HTTP disguise, which it did not answer
    // or, being no engine of ours, would not understand.
    bool plainOnly = false;

private:
    ~TPeerId() override = default;

    bool ParseFtp(const std::string &rest);
    bool ParseHttp(const std::string &rest);
    bool ParseTracker(const std::string &rest);
    bool ParseBtNode(const std::string &rest);
    bool ResolveHost();
    void TakeFileName(bool decode);

    std::unique_ptr<TUrlParts> parts;
};

// URL text helpers shared by the parsers and the sources.
// Percent-decodes at most limit bytes of output; a '%' followed by fewer than
// two characters ends the text; a '%' with non-hex digits stays literal.
std::string PercentDecode(const std::string &text, size_t limit = kMaxPeerUrlBytes);
// Writes every byte outside 0x21..0x7F as '%' and two lower-case hex digits.
std::string PercentEncodeUnsafe(const std::string &text);
