#pragma once
#include <cstddef>
#include <cstdint>
#include <set>
#include <vector>

#include "engine/net/lan_datagram.h"

// Announcements heard for torrents the hearing task does not have, kept for
// the engine's other tasks: each with the address it came from, its arrival
// second and the tasks that looked at it. Engine-wide; the caller holds the
// registry lock.
struct TLanEntry {
    TLanDatagram datagram;
    uint32_t source = 0; // network order: the peer is this address
    uint32_t arrival = 0;
    std::set<const void *> seenBy;
};

class TLanList {
public:
    // A flood cannot grow the list past this; the oldest entry goes first.
    static constexpr size_t kMaxEntries = 256;
    static constexpr uint32_t kMaxAgeSeconds = 30;

    // Keeps an announcement unless one with the same peer id is kept;
    // seenBy (when not null) has already looked at it.
    void Keep(const TLanDatagram &datagram, uint32_t source, uint32_t now, const void *seenBy);
    // A task's pass over the entries it has not seen: those of its torrent
    // are taken out and returned (at most most of them; the rest wait for
    // its next pass); any other is dropped when older than 30 s or seen by
    // as many tasks as the engine has, else marked as seen by this task.
    std::vector<TLanEntry> Visit(const void *task, const TLanHash &infoHash, uint32_t now, size_t taskCount,
                                 size_t most);
    // Every task reset empties the list.
    void Clear() { entries.clear(); }
    size_t Size() const { return entries.size(); }

    // The peer ids of this engine's announcing tasks: its own datagrams are
    // known by them whatever address they leave from.
    void AddOwnPeerId(const TLanHash &peerId) { ownPeerIds.insert(peerId); }
    void RemoveOwnPeerId(const TLanHash &peerId);
    bool IsOwnPeerId(const TLanHash &peerId) const { return ownPeerIds.count(peerId) != 0; }

private:
    std::vector<TLanEntry> entries;
    std::multiset<TLanHash> ownPeerIds;
};

// The engine's one list.
TLanList &EngineLanList();
