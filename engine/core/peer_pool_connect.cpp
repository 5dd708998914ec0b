// The peer pool's connect rounds and the closing of connections.
#include <algorithm>

#include "engine/core/candidate_rules.h"
#include "engine/core/work_with_peers.h"
#include "engine/net/listen_settings.h"

namespace {
constexpr int32_t kIdleRoundsBeforeRefill = 10;
constexpr int32_t kUnsupportedBackOff = 600;
} // namespace

bool TWorkWithPeers::Eligible(TPeerId &c)
{
    if (!c.HasValidAddress())
        return false;
    if (c.IsServer() && DownloadComplete())
        return false;
    if (c.kind == PEER_KIND_BT) {
        for (TPeerObject *peer : connections) {
            TPeerId *other = peer->Address();
            if (other == nullptr)
                continue;
            if (other->address == c.address && other->port == c.port)
                return false;
            const uint8_t *remote = peer->RemotePeerId();
            if (peer->IsConnected() && remote != nullptr && other->address == c.address &&
                std::equal(c.peerId.begin(), c.peerId.end(), remote))
                return false;
        }
    }
    return CandidateReady(c, live.speed == 0, TaskClock());
}

TWorkWithPeers::TOpenResult TWorkWithPeers::OpenConnection(TPeerId &candidate)
{
    TRef<TPeerObject> peer = CreatePeer(candidate.kind);
    if (peer == nullptr) {
        // A kind this engine cannot drive yet is not asked again soon.
        candidate.backOff = std::max(candidate.backOff, kUnsupportedBackOff);
        return TOpenResult::Unsupported;
    }
    if (candidate.mainTorrent)
        candidate.Parts().wholeContent = true;
    // Counted before the attach: a failed attach that took the address
    // gives the count back through its reset.
    ++candidate.useCount;
    if (!peer->AttachAddress(&candidate)) {
        if (peer->Address() == nullptr)
            --candidate.useCount;
        peer->Reset();
        closing.push_back(std::move(peer));
        ReleaseClosing(false);
        return TOpenResult::AttachFailed;
    }
    ++candidate.attempts;
    candidate.lastConnect = TaskClock();
    connections.push_back(std::move(peer));
    return TOpenResult::Opened;
}

void TWorkWithPeers::ConnectNow(TPeerId &candidate)
{
    candidate.backOff = 0;
    if (candidate.IsServer() && ServerConnectionCount() >= maxServers)
        return;
    if (candidate.kind == PEER_KIND_BT && (!IsListenEnabled() || PeerConnectionCount() >= maxPeers))
        return;
    if (Eligible(candidate))
        OpenConnection(candidate);
}

void TWorkWithPeers::ConnectServers()
{
    int64_t clock = TaskClock();
    if (clock == lastServerConnect)
        return;
    lastServerConnect = clock;
    int32_t open = ServerConnectionCount();
    if (open >= maxServers)
        return;
    int32_t budget = maxServers - open;
    RemoveDuplicates();
    bool opened = false;
    // Opening never changes the candidate list, so indices stay valid.
    for (size_t i = 0; i < candidates.size() && budget > 0; ++i) {
        TPeerId &c = *candidates[i];
        if (!c.IsServer() || !Eligible(c))
            continue;
        int32_t most = c.mainTorrent ? c.allowance : std::max(c.allowance, settings.limitA);
        bool failed = false;
        while (c.useCount < most && budget > 0) {
            const TUrlParts *parts = c.PartsIfAny();
            if (c.useCount >= 1 && (parts == nullptr || parts->serverSize <= 0))
                break;
            TOpenResult result = OpenConnection(c);
            if (result == TOpenResult::Unsupported)
                break;
            if (result == TOpenResult::AttachFailed) {
                failed = true;
                break;
            }
            opened = true;
            --budget;
        }
        if (failed)
            break;
    }
    if (opened) {
        idleConnectRounds = 0;
    } else if (++idleConnectRounds >= kIdleRoundsBeforeRefill) {
        idleConnectRounds = 0;
        ReAddSourceBackup(false);
        RetryUnresolved();
        AddMirrors(budget, true);
    }
    SortCandidates();
}

void TWorkWithPeers::ConnectPeers()
{
    if (!IsListenEnabled())
        return;
    int64_t clock = TaskClock();
    if (clock == lastPeerConnect)
        return;
    lastPeerConnect = clock;
    int32_t open = PeerConnectionCount();
    if (open >= maxPeers)
        return;
    int32_t budget = maxPeers - open;
    for (size_t i = 0; i < candidates.size() && budget > 0 && IsListenEnabled(); ++i) {
        TPeerId &c = *candidates[i];
        if (c.IsServer() || c.mainTorrent || !Eligible(c))
            continue;
        TOpenResult result = OpenConnection(c);
        if (result == TOpenResult::Opened)
            --budget;
        else if (result == TOpenResult::AttachFailed)
            ++c.failures;
    }
}

void TWorkWithPeers::RemoveConnection(TPeerObject *peer, int32_t penalty)
{
    auto it = std::find(connections.begin(), connections.end(), peer);
    if (it == connections.end())
        return;
    TRef<TPeerObject> removed = std::move(*it);
    connections.erase(it);
    TPeerId *address = peer->Address();
    if (penalty > 0 && address != nullptr) {
        Penalize(address, peer, penalty);
        address->failedMark = true;
        if (address->IsServer())
            candidatesDirty = true;
    }
    peer->Reset();
    closing.push_back(std::move(removed));
    ReleaseClosing(false);
}

void TWorkWithPeers::DropConnections(int32_t kindMask, int32_t count, bool onlyBad)
{
    if (count <= 0 || connections.empty())
        return;
    SortConnections();
    bool removed = false;
    if (!onlyBad) {
        for (size_t i = connections.size(); i-- > 0 && count > 0;) {
            TPeerObject *peer = connections[i];
            if ((peer->Kind() & kindMask) == 0)
                continue;
            RemoveConnection(peer, 0);
            removed = true;
            --count;
        }
    } else {
        size_t from = connections.size() > static_cast<size_t>(count) + 1 ? connections.size() - count - 1 : 0;
        for (size_t i = connections.size(); i-- > from;) {
            TPeerObject *peer = connections[i];
            TPeerId *address = peer->Address();
            if ((peer->Kind() & kindMask) == 0)
                continue;
            if (address != nullptr && address->IsServer() && address->hold)
                continue;
            if (address != nullptr)
                address->origin = std::max(address->origin - 1, static_cast<int32_t>(ORIGIN_DEMOTED_FLOOR));
            RemoveConnection(peer, 0);
            removed = true;
            break;
        }
    }
    if (removed)
        SortCandidates();
}
