// The pool's periodic upkeep: trimming and choking every three seconds, bad
// servers out, and the rotation of servers and mirrors after each tick.
#include <algorithm>
#include <string>

#include "engine/base/engine_clock.h"
#include "engine/core/work_with_peers.h"

namespace {
constexpr int32_t kTrimPenalty = 6;
constexpr int32_t kStallsToClose = 6;
constexpr int32_t kStallsToChoke = 3;
constexpr int32_t kBadServerFailures = 32;
constexpr int64_t kMirrorRotationSeconds = 31;
constexpr int64_t kServerRotationSeconds = 45;
constexpr uint32_t kRotationAfterSeconds = 45;
constexpr int32_t kSlowServerDivisor = 5;

std::string HostOf(TPeerId &address)
{
    int32_t defaultPort = address.kind == PEER_KIND_FTP ? 21 : 80;
    std::string host = address.Parts().host;
    if (address.port != defaultPort)
        host += ":" + std::to_string(address.port);
    return host;
}

int32_t UnchokeSlots(int64_t averageIn, int32_t uploadSlots)
{
    return static_cast<int32_t>(std::min<int64_t>(averageIn / 8192 + 8LL * uploadSlots + 32, INT32_MAX));
}
} // namespace

void TWorkWithPeers::TrimPeers()
{
    int32_t budget = settings.connectionBudget;
    int32_t keep = budget - 6 - std::max((budget - 6) / 12 - 6, 0);
    int32_t protect = keep + 12;
    int32_t unchoke = UnchokeSlots(AverageIn(), uploadSlots);
    auto connected = static_cast<int32_t>(
        std::count_if(connections.begin(), connections.end(), [](TPeerObject *p) { return p->IsConnected(); }));
    if (connected <= keep)
        return;
    SortConnections();
    bool fewMissing = MissingPieceCount() <= 6;
    std::vector<TRef<TPeerObject>> ranked(connections);
    for (size_t i = ranked.size(); i-- > 0;) {
        TPeerObject *peer = ranked[i];
        if (IsServerKind(peer->Kind()))
            continue;
        bool isConnected = peer->IsConnected();
        bool finished = isConnected && connected > keep && peer->IsFinished(fewMissing);
        bool unproductive = static_cast<int32_t>(i) > protect && peer->period.downRate == 0;
        if (finished || unproductive) {
            if (isConnected)
                --connected;
            RemoveConnection(peer, kTrimPenalty);
            continue;
        }
        if (peer->Kind() == PEER_KIND_BT && isConnected && static_cast<int32_t>(i) > unchoke && !peer->ChokedByUs()) {
            peer->SetChoke(true);
            peer->period.choked = true;
        }
    }
}

void TWorkWithPeers::ChokeRound()
{
    bool complete = DownloadComplete();
    bool stallLook = ++chokeRounds % 4 == 0;
    int32_t unchoke = UnchokeSlots(AverageIn(), uploadSlots);
    std::vector<TRef<TPeerObject>> ranked(connections);
    for (size_t i = 0; i < ranked.size(); ++i) {
        TPeerObject *peer = ranked[i];
        if (peer->Kind() != PEER_KIND_BT || !peer->IsConnected())
            continue;
        if (complete && peer->IsSeedLong()) {
            peer->CloseSocket();
            continue;
        }
        if (peer->RemoteInterested() && !peer->period.choked && static_cast<int32_t>(i) < unchoke)
            peer->SetChoke(false);
        if (!peer->requests.empty())
            peer->SendRequests();
        if (!stallLook)
            continue;
        QSocket *socket = peer->Socket();
        uint64_t in = socket->ReceivedBytes();
        uint64_t out = socket->SentBytes();
        if (in == peer->seenIn && out == peer->seenOut) {
            if (++peer->stalls >= kStallsToClose) {
                peer->CloseSocket();
                peer->stalls = kStallsToClose - 1;
            }
        } else {
            peer->stalls = 0;
        }
        peer->seenIn = in;
        peer->seenOut = out;
        if (peer->stalls > kStallsToChoke)
            peer->SetChoke(true);
    }
}

void TWorkWithPeers::DropBadServers()
{
    std::vector<TRef<TPeerId>> bad;
    for (const TRef<TPeerId> &c : candidates) {
        if (!c->IsServer())
            continue;
        bool mostlyBad = c->failedOutcomes >= kBadServerFailures &&
                         2 * static_cast<int64_t>(c->failedOutcomes) >= static_cast<int64_t>(c->outcomes);
        if (mostlyBad || c->WorstPiece().second >= TPeerId::kPieceFailuresToCondemn)
            bad.push_back(c);
    }
    for (TPeerId *c : bad) {
        auto [piece, failures] = c->WorstPiece();
        if (failures > 0) {
            // Its data will not verify: it must not come back with the
            // source list or the mirrors.
            badDataUrls.push_back(c->url);
            if (failures > badData.failures)
                badData = {HostOf(*c), piece, failures};
        }
        std::vector<TPeerObject *> own;
        for (TPeerObject *peer : connections) {
            if (peer->Address() == c)
                own.push_back(peer);
        }
        for (TPeerObject *peer : own) {
            ReopenRangesOf(*peer);
            RemoveConnection(peer, 0);
        }
        RemoveAddress(c);
    }
}

bool TWorkWithPeers::OnlyBadDataLeft()
{
    if (badData.failures == 0)
        return false;
    bool serverLeft = std::any_of(candidates.begin(), candidates.end(),
                                  [](TPeerId *c) { return c->IsServer() && !c->mainTorrent; });
    return !serverLeft && PeerConnectionCount() == 0;
}

void TWorkWithPeers::RotateServers()
{
    int64_t clock = TaskClock();
    bool withMirrors = false;
    {
        QAutoLock hold(OwnLock());
        withMirrors = hasMirrors;
    }
    if (withMirrors) {
        if (lastMirrorRotation != 0 && clock - lastMirrorRotation < kMirrorRotationSeconds)
            return;
        lastMirrorRotation = clock;
        int32_t open = ServerConnectionCount();
        if (open > maxServers - 1) {
            DropConnections(kPeerKindServers, open - maxServers + 1, true);
            open = maxServers - 1;
        }
        AddMirrors(maxServers - open, false);
        RetryUnresolved();
        return;
    }
    if (candidates.empty() || EngineSeconds() - StartSeconds() < kRotationAfterSeconds)
        return;
    if (lastServerRotation != 0 && clock - lastServerRotation < kServerRotationSeconds)
        return;
    lastServerRotation = clock;
    auto serverAddresses =
        std::count_if(candidates.begin(), candidates.end(), [](TPeerId *c) { return c->IsServer(); });
    if (ServerConnectionCount() < maxServers || serverAddresses < maxServers)
        return;
    SortConnections();
    int64_t slow = connections.empty() ? 0 : live.speed / static_cast<int64_t>(connections.size()) / kSlowServerDivisor;
    for (size_t i = connections.size(); i-- > 0;) {
        TPeerObject *peer = connections[i];
        TPeerId *address = peer->Address();
        if (!IsServerKind(peer->Kind()) || address == nullptr || address->hold)
            continue;
        if (peer->period.downRate != 0 && peer->period.downRate > slow)
            continue;
        address->origin = std::max(address->origin - 1, static_cast<int32_t>(ORIGIN_DEMOTED_FLOOR));
        RemoveConnection(peer, 0);
        break;
    }
}
