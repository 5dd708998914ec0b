#include "tools/qlrendezvous/rendezvous_table.h"

namespace {
constexpr uint32_t kRing = 0;

template <typename Map>
void EraseIfPointsTo(Map &map, uint64_t key, uint32_t slot)
{
    auto found = map.find(key);
    if (found != map.end() && found->second == slot)
        map.erase(found);
}
} // namespace

TRendezvousTable::TRendezvousTable(size_t capacity) : capacity(capacity == 0 ? 1 : capacity), slots(1)
{
    byIdentity.reserve(this->capacity);
    bySource.reserve(this->capacity);
    byLocalPort.reserve(this->capacity);
}

uint64_t TRendezvousTable::SourceKey(TRendezvousEndpoint source)
{
    return uint64_t{source.ipv4} << 16 | source.port;
}

uint64_t TRendezvousTable::LocalKey(uint32_t publicIpv4, uint32_t localPort)
{
    return uint64_t{publicIpv4} << 32 | localPort;
}

uint32_t TRendezvousTable::SlotOf(const TRendezvousHost &host) const
{
    return static_cast<uint32_t>(&host - slots.data());
}

void TRendezvousTable::Unlink(uint32_t slot)
{
    TRendezvousHost &host = slots[slot];
    slots[host.older].newer = host.newer;
    slots[host.newer].older = host.older;
}

void TRendezvousTable::LinkNewest(uint32_t slot)
{
    TRendezvousHost &host = slots[slot];
    host.newer = kRing;
    host.older = slots[kRing].older;
    slots[host.older].newer = slot;
    slots[kRing].older = slot;
}

void TRendezvousTable::IndexAddresses(uint32_t slot)
{
    const TRendezvousHost &host = slots[slot];
    bySource[SourceKey(host.publicAddress)] = slot;
    byLocalPort[LocalKey(host.publicAddress.ipv4, host.localPort)] = slot;
}

void TRendezvousTable::UnindexAddresses(uint32_t slot)
{
    const TRendezvousHost &host = slots[slot];
    EraseIfPointsTo(bySource, SourceKey(host.publicAddress), slot);
    EraseIfPointsTo(byLocalPort, LocalKey(host.publicAddress.ipv4, host.localPort), slot);
}

void TRendezvousTable::Remove(uint32_t slot)
{
    UnindexAddresses(slot);
    byIdentity.erase(slots[slot].identity);
    Unlink(slot);
    freeSlots.push_back(slot);
}

TRendezvousHost &TRendezvousTable::Register(uint64_t identity, TRendezvousEndpoint source, uint32_t localIpv4,
                                            uint32_t localPort, uint32_t now)
{
    if (TRendezvousHost *previous = FromSource(source); previous != nullptr && previous->identity != identity)
        Remove(SlotOf(*previous));

    uint32_t slot;
    if (auto known = byIdentity.find(identity); known != byIdentity.end()) {
        slot = known->second;
        UnindexAddresses(slot);
        Unlink(slot);
    } else {
        if (byIdentity.size() >= capacity)
            Remove(slots[kRing].newer);
        if (!freeSlots.empty()) {
            slot = freeSlots.back();
            freeSlots.pop_back();
        } else {
            slot = static_cast<uint32_t>(slots.size());
            slots.emplace_back();
        }
        slots[slot] = TRendezvousHost{};
        slots[slot].identity = identity;
        byIdentity.emplace(identity, slot);
    }
    TRendezvousHost &host = slots[slot];
    host.publicAddress = source;
    host.localIpv4 = localIpv4;
    host.localPort = localPort;
    host.lastHeard = now;
    IndexAddresses(slot);
    LinkNewest(slot);
    return host;
}

TRendezvousHost *TRendezvousTable::FromSource(TRendezvousEndpoint source)
{
    auto found = bySource.find(SourceKey(source));
    return found == bySource.end() ? nullptr : &slots[found->second];
}

TRendezvousHost *TRendezvousTable::ByIdentity(uint64_t identity)
{
    auto found = byIdentity.find(identity);
    return found == byIdentity.end() ? nullptr : &slots[found->second];
}

TRendezvousHost *TRendezvousTable::ByPublicIpv4AndLocalPort(uint32_t publicIpv4, uint32_t localPort)
{
    auto found = byLocalPort.find(LocalKey(publicIpv4, localPort));
    return found == byLocalPort.end() ? nullptr : &slots[found->second];
}

void TRendezvousTable::Touch(TRendezvousHost &host, uint32_t now)
{
    const uint32_t slot = SlotOf(host);
    host.lastHeard = now;
    Unlink(slot);
    LinkNewest(slot);
}

void TRendezvousTable::Expire(uint32_t now, uint32_t silenceSeconds)
{
    // The ring runs from the longest silent; stop at the first still heard.
    for (uint32_t oldest = slots[kRing].newer; oldest != kRing; oldest = slots[kRing].newer) {
        if (now - slots[oldest].lastHeard <= silenceSeconds)
            break;
        Remove(oldest);
    }
}
