#pragma once
#include <cstdint>

#include "engine/net/tracker_announce.h"
#include "engine/net/tracker_answer.h"

// What a tracker client asks of its task: the facts an announce reports,
// and a place for the peers the tracker names.
class ITaskAnnounce {
public:
    // Fills the info hash, the totals, what is left and the listening port.
    // The peer id is the task's own, or with freshPeerId one made for this
    // announce alone. False while the task has no info hash (or, for its
    // own id, no handshake) yet.
    virtual bool FillAnnounceFacts(TAnnounceFacts &facts, bool freshPeerId) = 0;
    // Offers a peer a tracker named as a BitTorrent candidate; false when the
    // pool refused it (the task's own address, 127.0.0.1, a known one keeps
    // its record and counts as taken).
    virtual bool AddTrackerPeer(const TTrackerPeerAddress &peer) = 0;

protected:
    ~ITaskAnnounce() = default;
};
