// What the task tells its trackers, and where their answers go.
#include <algorithm>
#include <cstring>
#include <strings.h>

#include "engine/core/engine_state.h"
#include "engine/core/work_thread.h"
#include "engine/net/ipv4_address.h"
#include "engine/net/local_address.h"
#include "engine/storage/torrent.h"
#include "platform/thread_id.h"
#include "platform/tick.h"

namespace {
constexpr char kTrackerScheme[] = "tracker://";
constexpr char kHttpsScheme[] = "https://";
constexpr char kBtNodeScheme[] = "btnode://";
} // namespace

bool TWorkThread::FillAnnounceFacts(TAnnounceFacts &facts, bool freshPeerId)
{
    const uint8_t *hash = InfoHash();
    if (hash == nullptr)
        return false;
    if (freshPeerId)
        facts.peerId = DigestPeerId(TorrentName(), platform::CurrentThreadId(), reinterpret_cast<uintptr_t>(this),
                                    platform::TickCount(), PickLocalAddress());
    else if (handshake)
        facts.peerId = handshake->peerId;
    else
        return false;
    std::memcpy(facts.infoHash.data(), hash, facts.infoHash.size());
    facts.uploaded = static_cast<int64_t>(totalOut);
    facts.downloaded = static_cast<int64_t>(totalIn);
    facts.left = std::max<int64_t>(FileSize() - static_cast<int64_t>(live.doneBytes), 0);
    facts.port = ListeningService().PublishedPort();
    return true;
}

bool TWorkThread::AddTrackerPeer(const TTrackerPeerAddress &peer)
{
    auto record = TRef<TPeerId>::Adopt(new TPeerId);
    record->kind = PEER_KIND_BT;
    record->address = peer.address;
    record->port = peer.port;
    record->parsed = true;
    record->allowance = 1;
    record->origin = ORIGIN_BT_MINIMUM;
    record->url = kBtNodeScheme + DottedText(peer.address) + ":" + std::to_string(peer.port);
    if (peer.hasPeerId) {
        record->peerId = peer.peerId;
    } else {
        // The address form the UDP transport can dial when no id is known.
        std::memcpy(record->peerId.data() + 14, &peer.address, 4);
        record->peerId[18] = static_cast<uint8_t>(peer.port >> 8);
        record->peerId[19] = static_cast<uint8_t>(peer.port);
    }
    return AddCandidate(record, false, false);
}

void TWorkThread::AddTorrentTrackers()
{
    if (torrent == nullptr)
        return;
    for (const std::string &url : torrent->Trackers()) {
        if (url.empty() || strncasecmp(url.c_str(), kHttpsScheme, sizeof kHttpsScheme - 1) == 0)
            continue;
        auto address = TRef<TPeerId>::Adopt(new TPeerId);
        if (!address->Parse(kTrackerScheme + url))
            continue;
        address->origin = ORIGIN_SOURCE;
        AddCandidate(address, false, false);
    }
}
