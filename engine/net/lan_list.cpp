#include "engine/net/lan_list.h"

#include <algorithm>

void TLanList::Keep(const TLanDatagram &datagram, uint32_t source, uint32_t now, const void *seenBy)
{
    const bool known = std::any_of(entries.begin(), entries.end(),
                                   [&](const TLanEntry &entry) { return entry.datagram.peerId == datagram.peerId; });
    if (known)
        return;
    if (entries.size() >= kMaxEntries)
        entries.erase(entries.begin());
    TLanEntry entry;
    entry.datagram = datagram;
    entry.source = source;
    entry.arrival = now;
    if (seenBy != nullptr)
        entry.seenBy.insert(seenBy);
    entries.push_back(std::move(entry));
}

std::vector<TLanEntry> TLanList::Visit(const void *task, const TLanHash &infoHash, uint32_t now, size_t taskCount,
                                       size_t most)
{
    std::vector<TLanEntry> taken;
    std::vector<TLanEntry> kept;
    for (TLanEntry &entry : entries) {
        if (entry.seenBy.count(task) != 0) {
            kept.push_back(std::move(entry));
            continue;
        }
        if (entry.datagram.infoHash == infoHash) {
            if (taken.size() < most)
                taken.push_back(std::move(entry));
            else
                kept.push_back(std::move(entry));
            continue;
        }
        if (now - entry.arrival > kMaxAgeSeconds || entry.seenBy.size() + 1 >= taskCount)
            continue;
        entry.seenBy.insert(task);
        kept.push_back(std::move(entry));
    }
    entries = std::move(kept);
    return taken;
}

void TLanList::RemoveOwnPeerId(const TLanHash &peerId)
{
    auto found = ownPeerIds.find(peerId);
    if (found != ownPeerIds.end())
        ownPeerIds.erase(found);
}

TLanList &EngineLanList()
{
    static TLanList list;
    return list;
}
