#include "engine/core/swarm_registry.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "engine/base/engine_locks.h"

namespace {
struct TSwarmEntry {
    TBaseWork *task;
    // The hash with two zero bytes, as the registry has always stored it.
    std::array<uint8_t, 22> hash;
};

std::vector<TSwarmEntry> &Entries()
{
    static std::vector<TSwarmEntry> entries;
    return entries;
}
} // namespace

void SwarmJoin(TBaseWork *task, const uint8_t infoHash[20])
{
    static const uint8_t zero[20] = {};
    if (task == nullptr || infoHash == nullptr || std::memcmp(infoHash, zero, 20) == 0)
        return;
    QAutoLock hold(RegistryLock());
    auto &entries = Entries();
    if (std::any_of(entries.begin(), entries.end(), [task](const TSwarmEntry &e) { return e.task == task; }))
        return;
    TSwarmEntry entry{task, {}};
    std::memcpy(entry.hash.data(), infoHash, 20);
    entries.push_back(entry);
}

void SwarmLeave(TBaseWork *task)
{
    QAutoLock hold(RegistryLock());
    std::erase_if(Entries(), [task](const TSwarmEntry &e) { return e.task == task; });
}

bool SwarmKnows(const uint8_t *infoHash)
{
    if (infoHash == nullptr)
        return false;
    QAutoLock hold(RegistryLock());
    auto &entries = Entries();
    return std::any_of(entries.begin(), entries.end(),
                       [infoHash](const TSwarmEntry &e) { return std::memcmp(e.hash.data(), infoHash, 20) == 0; });
}
