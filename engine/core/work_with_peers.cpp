#include "engine/core/work_with_peers.h"

#include <algorithm>
#include <cstring>
#include <strings.h>
#include <unordered_set>

#include "engine/base/engine_clock.h"
#include "engine/base/log_channels.h"
#include "engine/base/quarrowlight_log.h"
#include "engine/core/candidate_rules.h"
#include "engine/core/connection_order.h"
#include "engine/core/engine_state.h"
#include "engine/core/swarm_registry.h"
#include "platform/tick.h"

namespace {
constexpr uint32_t kLoopbackNetworkOrder = 0x0100007Fu;

bool EqualsIgnoringCase(const std::string &a, const std::string &b)
{
    return a.size() == b.size() && strncasecmp(a.c_str(), b.c_str(), a.size()) == 0;
}

bool CarriesUdpMark(const std::array<uint8_t, 20> &id)
{
    return id[16] == 'U' && id[17] == 'D' && id[18] == 'P';
}

// The identity under which duplicates are found in one pass.
std::string DuplicateKey(const TPeerId &c)
{
    std::string key = std::to_string(c.kind) + '|' + std::to_string(c.address) + '|';
    if (c.IsServer()) {
        for (char ch : c.url)
            key.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(ch))));
    } else {
        key += std::to_string(c.port) + '|' + std::to_string(c.trackerTransport);
    }
    return key;
}
} // namespace

TWorkWithPeers::TWorkWithPeers() = default;

TWorkWithPeers::~TWorkWithPeers()
{
    // The task has reset its peers by now; a reset here would call back into
    // layers already destroyed, so the lists only drop their references.
    SwarmLeave(this);
}

void TWorkWithPeers::SetPeerLimitsLocked(int32_t servers, int32_t peers)
{
    maxServers = servers;
    maxPeers = peers;
}

void TWorkWithPeers::AddMirrorsLocked(const char *urls, const char *hosts)
{
    for (auto &entry : SplitSourceList(urls))
        mirrorUrls.push_back(std::move(entry.text));
    for (auto &entry : SplitSourceList(hosts))
        mirrorHosts.push_back(std::move(entry.text));
    hasMirrors = !mirrorUrls.empty();
}

void TWorkWithPeers::ClearMirrorsLocked()
{
    mirrorUrls.clear();
    mirrorHosts.clear();
    hasMirrors = false;
}

void TWorkWithPeers::ReleaseSourceMarks()
{
    bool haveTorrent = HasMetadata();
    for (auto &entry : sources) {
        if (entry.mark == SOURCE_MARK_IN_USE)
            entry.mark = SOURCE_MARK_NEW;
        else if (entry.mark == SOURCE_MARK_MAIN_IN_USE && !haveTorrent)
            entry.mark = SOURCE_MARK_MAIN_UNUSED;
    }
}

void TWorkWithPeers::Reset(bool, bool)
{
    ResetPeers();
    ResetLanDiscovery();
    idleConnectRounds = 0;
    lastServerConnect = -1;
    lastPeerConnect = -1;
    lastMirrorRotation = 0;
    lastServerRotation = 0;
    round = 0;
    roundsSinceTick = 0;
    chokeRounds = 0;
    servicePeriod = 5;
    uploadSlots = 6;
    lastSecondUpload = 0;
}

void TWorkWithPeers::ResetPeers()
{
    for (TPeerObject *peer : connections)
        peer->Reset();
    connections.clear();
    ReleaseClosing(true);
    try {
        candidates.clear();
    } catch (...) {
        EngineLogWrite("ClearPeerId Failed..", LOG_CHANNEL_PEERS);
    }
    candidatesDirty = false;
    maxServers = kDefaultMaxServers;
    LeaveSwarm();
}

void TWorkWithPeers::ReleaseClosing(bool all)
{
    if (!all && static_cast<int32_t>(closing.size()) <= settings.connectionBudget + 12)
        return;
    closing.clear();
}

void TWorkWithPeers::SortCandidates()
{
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const TPeerId *a, const TPeerId *b) { return CandidateBefore(*a, *b); });
    candidatesDirty = false;
}

void TWorkWithPeers::RemoveDuplicates()
{
    std::unordered_set<std::string> seen;
    seen.reserve(candidates.size());
    std::erase_if(candidates, [&seen](const TRef<TPeerId> &c) { return !seen.insert(DuplicateKey(*c)).second; });
}

void TWorkWithPeers::EvictWorstCandidates()
{
    while (candidates.size() > kMaxCandidates) {
        if (candidatesDirty)
            SortCandidates();
        candidates.pop_back();
    }
}

// Inserts at the candidate's place in the order; among equals at the front,
// or at a pseudo-random place so that new sources spread over the run.
void TWorkWithPeers::InsertCandidate(TRef<TPeerId> candidate, bool randomPosition)
{
    if (candidatesDirty)
        SortCandidates();
    auto less = [](const TPeerId *a, const TPeerId *b) { return CandidateBefore(*a, *b); };
    auto [low, high] = std::equal_range(candidates.begin(), candidates.end(), candidate.Get(), less);
    auto at = low;
    if (randomPosition) {
        auto span = static_cast<uint32_t>(high - low) + 1;
        at = low + static_cast<std::ptrdiff_t>(platform::TickCount() % span);
    }
    candidates.insert(at, std::move(candidate));
    EvictWorstCandidates();
}

bool TWorkWithPeers::AddCandidate(TPeerId *address, bool fromPeer, bool forceId)
{
    if (address == nullptr)
        return false;
    if (address->kind == PEER_KIND_BT) {
        if (address->address == kLoopbackNetworkOrder)
            return false;
        const uint8_t *own = OwnPeerId();
        if (!IsHttpTask() && own != nullptr && std::memcmp(own, address->peerId.data(), 20) == 0)
            return false;
    }
    if (address->IsServer() && std::any_of(badDataUrls.begin(), badDataUrls.end(), [&](const std::string &url) {
            return EqualsIgnoringCase(url, address->url);
        }))
        return false;
    if (address->parsed && address->address == ListeningService().PublishedAddress() &&
        address->port == ListeningService().PublishedPort())
        return false;
    RemoveDuplicates();
    for (TPeerId *known : candidates) {
        if (known == address)
            return true;
        bool sameUrl = !known->url.empty() && EqualsIgnoringCase(known->url, address->url) &&
                       (!known->parsed || !address->parsed || known->address == address->address);
        if (sameUrl)
            return true;
        if (known->address != address->address || known->port != address->port || known->kind != address->kind)
            continue;
        // One port may serve a tracker over HTTP and over UDP: two trackers.
        if (known->kind == PEER_KIND_TRACKER && known->trackerTransport != address->trackerTransport)
            continue;
        if (known->IsServer() && address->IsServer() && known->parsed && address->parsed) {
            // The torrent and the data may come from one server: two
            // resources, two candidates.
            if (known->mainTorrent != address->mainTorrent)
                continue;
            const TUrlParts *a = known->PartsIfAny();
            const TUrlParts *b = address->PartsIfAny();
            if (a != nullptr && b != nullptr && EqualsIgnoringCase(a->host, b->host))
                return true;
            continue;
        }
        if (!address->IsServer()) {
            if (forceId || (fromPeer && !CarriesUdpMark(known->peerId)))
                known->peerId = address->peerId;
            return true;
        }
    }
    if (address->kind == PEER_KIND_BT) {
        address->origin = std::max(address->origin, static_cast<int32_t>(ORIGIN_BT_MINIMUM));
        if (CarriesUdpMark(address->peerId)) {
            const uint8_t mark[4] = {0x00, 0x01, 'Q', 'l'};
            std::memcpy(address->peerId.data(), mark, 4);
        }
    }
    InsertCandidate(TRef<TPeerId>::Share(address), fromPeer || address->IsServer());
    return true;
}

TPeerId *TWorkWithPeers::AddBtAddress(uint32_t ip, int32_t port, int32_t kind, bool first, int32_t origin)
{
    for (TPeerId *known : candidates) {
        if (known->address == ip && known->port == port && known->kind == kind) {
            known->origin = origin;
            if (kind != PEER_KIND_BT)
                known->peerId.fill(0);
            return known;
        }
    }
    auto record = TRef<TPeerId>::Adopt(new TPeerId);
    TPeerId *candidate = record.Get();
    candidate->address = ip;
    candidate->port = port;
    candidate->kind = kind;
    candidate->origin = origin;
    if (kind == PEER_KIND_BT) {
        candidate->parsed = true;
        candidate->allowance = 1;
        candidate->origin = std::max(static_cast<int32_t>(ORIGIN_BT_MINIMUM), origin);
        std::memcpy(candidate->peerId.data() + 14, &ip, 4);
        candidate->peerId[18] = static_cast<uint8_t>((port >> 8) & 0xFF);
        candidate->peerId[19] = static_cast<uint8_t>(port & 0xFF);
    }
    if (first || candidate->IsServer())
        candidates.insert(candidates.begin(), std::move(record));
    else
        candidates.push_back(std::move(record));
    candidatesDirty = true;
    EvictWorstCandidates();
    if (origin > 34 && RoomForPeers(halfOpenLimit.load(), settings.connectionBudget,
                                    static_cast<int32_t>(connections.size()), EstablishingCount(),
                                    outsideReachable.load()) == 0)
        DropConnections(PEER_KIND_BT, 2, false);
    // Eviction may have taken the new record; find it again.
    auto it = std::find(candidates.begin(), candidates.end(), candidate);
    return it != candidates.end() ? candidate : nullptr;
}

// A redirect target. An address that redirected to another path of the same
// server would count as the same candidate and hide the target until it had
// redirected three times; it gives way to its target at once.
bool TWorkWithPeers::AddAddress(TPeerId *address)
{
    if (address == nullptr || !address->parsed)
        return false;
    const TUrlParts *target = address->PartsIfAny();
    std::vector<TPeerId *> replaced;
    for (TPeerId *known : candidates) {
        const TUrlParts *parts = known->PartsIfAny();
        if (known != address && parts != nullptr && parts->redirected && target != nullptr &&
            known->kind == address->kind && known->address == address->address && known->port == address->port &&
            EqualsIgnoringCase(parts->host, target->host))
            replaced.push_back(known);
    }
    for (TPeerId *known : replaced)
        RemoveAddress(known);
    return AddCandidate(address, false, false);
}

void TWorkWithPeers::RemoveAddress(TPeerId *address)
{
    auto it = std::find(candidates.begin(), candidates.end(), address);
    if (it == candidates.end() && address != nullptr) {
        it = std::find_if(candidates.begin(), candidates.end(),
                          [address](const TPeerId *c) { return c->SameParty(*address); });
    }
    if (it == candidates.end())
        return;
    candidates.erase(it);
}

uint32_t TWorkWithPeers::SecondsRunning()
{
    return EngineSeconds() - StartSeconds();
}

void TWorkWithPeers::SourceFailed(TPeerId *address, const std::string &why, bool givenUp)
{
    std::string host = address != nullptr && address->PartsIfAny() != nullptr ? address->PartsIfAny()->host : "";
    std::string text = host + ":" + std::to_string(address != nullptr ? address->port : 0) + ": " + why;
    // A server's words reach a terminal: no escape sequences.
    for (char &c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '?';
    live.sourceFailure.text = text;
    ++live.sourceFailure.serial;
    if (givenUp)
        ++live.sourceFailure.givenUp;
}

void TWorkWithPeers::HostNotFound()
{
    live.state = TASK_STATE_HOST_NOT_FOUND;
    PublishStatus(true, true);
}

void TWorkWithPeers::Penalize(TPeerId *address, TPeerObject *connection, int32_t amount)
{
    if (address == nullptr || (connection != nullptr && connection->GetCounters().attached))
        return;
    auto it = std::find(candidates.begin(), candidates.end(), address);
    if (it == candidates.end())
        it = std::find_if(candidates.begin(), candidates.end(),
                          [address](const TPeerId *c) { return c->SameParty(*address); });
    if (it == candidates.end())
        return;
    TPeerId &c = **it;
    candidatesDirty = true;
    if (c.IsServer() && c.useCount > 1) {
        if (c.backOff <= 0)
            c.backOff += 2;
        return;
    }
    if (c.recentlyUnreachable)
        c.recentlyUnreachable = false;
    else
        c.backOff += 3 * std::max(c.failures - 1, 0);
    c.backOff += amount;
    ++c.failures;
    if (c.kind != PEER_KIND_BT || connection == nullptr)
        return;
    if (connection->stage == PEER_STAGE_USABLE && !connection->IsIdleLong())
        return;
    if (amount < 0 || amount > 4095)
        amount = 1;
    int32_t b = std::max(c.failures - 1, amount);
    int64_t spread = static_cast<int64_t>(b) * static_cast<int64_t>(candidates.size()) <= 400 ? 1 : 2;
    c.backOff += static_cast<int32_t>(spread * amount + 5 + (DownloadComplete() ? 20 : 0));
    if (c.backOff <= 0)
        c.backOff = 10;
    std::rotate(it, it + 1, candidates.end());
}

int32_t TWorkWithPeers::ServerConnectionCount()
{
    return static_cast<int32_t>(std::count_if(connections.begin(), connections.end(), [](TPeerObject *p) {
        return IsServerKind(p->Kind()) && !(p->Address() != nullptr && p->Address()->hold);
    }));
}

int32_t TWorkWithPeers::PeerConnectionCount()
{
    return static_cast<int32_t>(std::count_if(connections.begin(), connections.end(),
                                              [](TPeerObject *p) { return p->Kind() == PEER_KIND_BT; }));
}

int32_t TWorkWithPeers::EstablishingCount()
{
    return static_cast<int32_t>(std::count_if(connections.begin(), connections.end(),
                                              [](TPeerObject *p) { return p->stage == PEER_STAGE_CONNECTING; }));
}

void TWorkWithPeers::SortConnections()
{
    ::SortConnections(connections, DownloadComplete());
}

bool TWorkWithPeers::OnlyTrackersFor(uint32_t seconds)
{
    int64_t clock = TaskClock();
    return std::all_of(connections.begin(), connections.end(), [&](TPeerObject *p) {
        return p->Kind() == PEER_KIND_TRACKER && clock - p->GetCounters().attachTime > seconds;
    });
}

void TWorkWithPeers::JoinSwarm()
{
    const uint8_t *hash = InfoHash();
    if (hash == nullptr)
        return;
    SwarmJoin(this, hash);
    swarmJoined = true;
}

void TWorkWithPeers::LeaveSwarm()
{
    if (!swarmJoined)
        return;
    SwarmLeave(this);
    swarmJoined = false;
}
