// The per-round servicing of a task's connections.
#include <algorithm>

#include "engine/core/work_with_peers.h"
#include "engine/net/listen_settings.h"
#include "engine/storage/bencode.h"

namespace {
constexpr uint32_t kRoundsBeforeSlowUploads = 18;
constexpr int64_t kUploadSlotBytes = 8192;

bool HoldsFetchedTorrent(const TPeerObject &peer)
{
    const TPeerId *address = peer.Address();
    const TUrlParts *parts = address != nullptr ? address->PartsIfAny() : nullptr;
    return address != nullptr && address->mainTorrent && parts != nullptr && parts->contentComplete;
}
} // namespace

void TWorkWithPeers::NoteSizeOf(TPeerObject &peer)
{
    TPeerId *address = peer.Address();
    const TUrlParts *parts = address != nullptr ? address->PartsIfAny() : nullptr;
    if (Store().FileSize() == 0 && parts != nullptr && parts->serverSize > 0 && !parts->wholeContent)
        OnServerSize(*address);
}

void TWorkWithPeers::ServiceConnections(bool tickRound)
{
    int32_t period = std::max(servicePeriod, 1);
    bool periodStart = round % static_cast<uint32_t>(period) == 0 || serviceAllNext;
    serviceAllNext = false;
    uint32_t periodIndex = round / static_cast<uint32_t>(period);
    ++round;
    roundsSinceTick = tickRound ? 0 : roundsSinceTick + 1;
    bool complete = DownloadComplete();
    bool torrentFetched = false;

    // Removal changes the list; walk a copy, which holds each peer while it
    // runs.
    std::vector<TRef<TPeerObject>> due(connections);
    for (TPeerObject *peer : due) {
        int32_t rate = complete ? peer->period.upRate : peer->period.downRate;
        if (!(periodStart || tickRound || rate > kFastRate)) {
            QSocket *socket = peer->Socket();
            if (peer->IsConnected() && socket != nullptr && socket->SendLength() > 0)
                NoteUploading();
            continue;
        }
        bool ok = peer->DownloadTick();
        // Bytes count even when the tick ended the connection.
        CountTick(*peer);
        NoteSizeOf(*peer);
        bool ended = peer->state == PEER_STATE_FINISHED || peer->state == PEER_STATE_TIMED_OUT;
        if (!ok)
            RemoveConnection(peer, ended ? 0 : 1);
        else if (HoldsFetchedTorrent(*peer))
            torrentFetched = true;
    }
    ServiceUploads(tickRound, periodStart && periodIndex % 3 == 0);

    if (!HasMetadata()) {
        ConnectServers();
        if (IsListenEnabled())
            ConnectPeers();
        else
            DropConnections(PEER_KIND_BT, 2, false);
    }
    if (torrentFetched)
        TakeFetchedTorrent();
}

void TWorkWithPeers::ServiceUploads(bool tickRound, bool slowPeriod)
{
    bool complete = DownloadComplete();
    int32_t extra = 0;
    if (tickRound && lastSecondUpload < static_cast<int64_t>(uploadSlots) * kUploadSlotBytes)
        extra = std::max(uploadSlots / 6, 1);
    int32_t most = uploadSlots + extra;
    int32_t uploads = 0;
    std::vector<TRef<TPeerObject>> due(connections);
    for (TPeerObject *peer : due) {
        if (uploads >= most)
            break;
        if (peer->Kind() != PEER_KIND_BT)
            continue;
        int32_t rate = complete ? peer->period.upRate : peer->period.downRate;
        bool slowDue = slowPeriod || extra > 0 || roundsSinceTick >= kRoundsBeforeSlowUploads;
        if (rate <= kFastRate && !slowDue)
            continue;
        ++uploads;
        bool ok = peer->UploadTick();
        CountTick(*peer);
        bool ended = peer->state == PEER_STATE_FINISHED || peer->state == PEER_STATE_TIMED_OUT;
        if (!ok)
            RemoveConnection(peer, ended ? 0 : 1);
    }
}

void TWorkWithPeers::TakeFetchedTorrent()
{
    std::vector<TRef<TPeerObject>> fetched;
    for (const TRef<TPeerObject> &peer : connections) {
        if (HoldsFetchedTorrent(*peer))
            fetched.push_back(peer);
    }
    for (TRef<TPeerObject> &peer : fetched) {
        connections.erase(std::find(connections.begin(), connections.end(), peer.Get()));
        auto address = TRef<TPeerId>::Share(peer->Address());
        const std::string content = address->Parts().content;
        bool parses = CreateElement(content.data(), static_cast<int64_t>(content.size())) != nullptr;
        if (parses) {
            if (!content.empty() && !HasMetadata())
                AdoptFetchedTorrent(content);
            RemoveAddress(address);
        } else {
            // Fetched again by the next connection.
            address->Parts().content.clear();
            address->Parts().contentComplete = false;
        }
        peer->Reset();
        closing.push_back(std::move(peer));
    }
    ReleaseClosing(false);
}
