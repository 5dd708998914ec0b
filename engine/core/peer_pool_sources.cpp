// Where the pool's candidates come from: the task's source entries, their
// backup, the mirror lists and the further addresses of multi-address hosts.
#include <algorithm>
#include <random>

#include "engine/base/engine_clock.h"
#include "engine/core/work_with_peers.h"
#include "platform/tick.h"

namespace {
constexpr char kNoHostName[] = "null";

// A record parsed from text, or null when it does not parse; a host that
// does not resolve is reported through hostFailed.
TRef<TPeerId> ParseAddress(const std::string &text, bool &hostFailed)
{
    auto address = TRef<TPeerId>::Adopt(new TPeerId);
    if (address->Parse(text))
        return address;
    hostFailed = hostFailed || address->invalidHost;
    return nullptr;
}
} // namespace

void TWorkWithPeers::MaintainCandidates()
{
    ProcessSources();
    RetryUnresolved();
    ExpandHosts();
}

void TWorkWithPeers::ProcessSources()
{
    if (!sourceBackupTaken) {
        sourceBackup = sources;
        sourceBackupTaken = true;
    }
    bool hostFailed = false;
    for (size_t i = sources.size(); i-- > 0;) {
        TSourceEntry &entry = sources[i];
        if (entry.mark == SOURCE_MARK_IN_USE || entry.mark == SOURCE_MARK_MAIN_IN_USE || entry.text.empty())
            continue;
        TRef<TPeerId> address = ParseAddress(entry.text, hostFailed);
        if (address == nullptr)
            continue;
        if (entry.mark == SOURCE_MARK_MAIN_UNUSED) {
            address->mainTorrent = true;
            address->allowance = 1;
            address->Parts().wholeContent = true;
            entry.mark = SOURCE_MARK_MAIN_IN_USE;
        } else {
            entry.mark = SOURCE_MARK_IN_USE;
        }
        address->origin = ORIGIN_SOURCE;
        AddCandidate(address, false, false);
    }
    if (hostFailed)
        HostNotFound();
}

void TWorkWithPeers::ReAddSourceBackup(bool connectNow)
{
    bool hostFailed = false;
    for (const TSourceEntry &entry : sourceBackup) {
        // A fetched torrent is not fetched again.
        if (entry.text.empty() || (entry.mark == SOURCE_MARK_MAIN_UNUSED && HasMetadata()))
            continue;
        TRef<TPeerId> address = ParseAddress(entry.text, hostFailed);
        if (address == nullptr)
            continue;
        if (entry.mark == SOURCE_MARK_MAIN_UNUSED) {
            address->mainTorrent = true;
            address->Parts().wholeContent = true;
        }
        AddSourceAddress(address, connectNow);
    }
    if (hostFailed)
        HostNotFound();
}

void TWorkWithPeers::AddSourceAddress(TPeerId *address, bool connectNow)
{
    address->origin = ORIGIN_SOURCE;
    if (AddCandidate(address, false, false) && connectNow) {
        auto it = std::find_if(candidates.begin(), candidates.end(),
                               [address](TPeerId *c) { return c == address || c->SameParty(*address); });
        if (it != candidates.end())
            ConnectNow(**it);
    }
}

void TWorkWithPeers::RetryUnresolved()
{
    std::erase_if(candidates, [](const TRef<TPeerId> &c) {
        return !(c->parsed || (!c->url.empty() && c->Parse(c->url)));
    });
}

void TWorkWithPeers::ExpandHosts()
{
    std::vector<TRef<TPeerId>> copies;
    for (TPeerId *candidate : candidates) {
        const TUrlParts *parts = candidate->PartsIfAny();
        if (!candidate->parsed || !candidate->IsServer() || parts == nullptr || parts->resolved.size() < 2)
            continue;
        for (uint32_t other : parts->resolved) {
            if (other == candidate->address)
                continue;
            TRef<TPeerId> copy = candidate->CopyForAddress(other);
            copy->origin = candidate->kind == PEER_KIND_HTTP ? ORIGIN_SOURCE : ORIGIN_FTP_HOST;
            copies.push_back(std::move(copy));
        }
    }
    for (TPeerId *copy : copies)
        AddCandidate(copy, false, false);
}

void TWorkWithPeers::AddMirrors(int32_t count, bool connectNow)
{
    std::vector<std::string> urls;
    std::vector<std::string> hosts;
    {
        // The interface adds and clears mirrors from another thread.
        QAutoLock hold(OwnLock());
        urls = mirrorUrls;
        hosts = mirrorHosts;
    }
    if (urls.empty() || count <= 0)
        return;
    if (!mirrorRandomSeeded) {
        mirrorRandom.seed(static_cast<uint32_t>(EngineTime()) ^ platform::TickCount());
        mirrorRandomSeeded = true;
    }
    bool hostFailed = false;
    int32_t added = 0;
    for (int32_t draw = 0; draw < 2 * count && added < count; ++draw) {
        size_t index = mirrorRandom() % urls.size();
        TRef<TPeerId> address = ParseAddress(urls[index], hostFailed);
        if (address == nullptr)
            continue;
        // A host list shorter than the URL list names no host for the rest.
        const std::string &host = index < hosts.size() ? hosts[index] : std::string(kNoHostName);
        if (host != kNoHostName && !host.empty())
            address->Parts().host = host;
        ++added;
        AddSourceAddress(address, connectNow);
    }
    if (hostFailed)
        HostNotFound();
}
