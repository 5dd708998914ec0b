#pragma once
#include <cstdint>

// Kinds of remote parties, as bits: candidate addresses, connections and the
// piece store's sources all carry one. Server sources are the kinds in
// kPeerKindServers.
enum : int32_t {
    PEER_KIND_BT = 1,
    PEER_KIND_HTTP = 2,
    PEER_KIND_FTP = 4,
    PEER_KIND_TRACKER = 8,
};
constexpr int32_t kPeerKindServers = PEER_KIND_HTTP | PEER_KIND_FTP;
inline bool IsServerKind(int32_t kind)
{
    return (kind & kPeerKindServers) != 0;
}
