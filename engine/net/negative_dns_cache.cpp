#include "engine/net/negative_dns_cache.h"

#include <algorithm>
#include <unordered_set>

#include "engine/base/qmutex.h"

namespace {
// Names come from peer URLs and redirects; the set must not grow without end
// between two clears.
constexpr size_t kMostNames = 4096;

struct Cache {
    QSMutex guard;
    std::unordered_set<std::string> names;
};

Cache &TheCache()
{
    static Cache *cache = new Cache;
    return *cache;
}

std::string Folded(const std::string &host)
{
    std::string folded(host);
    std::transform(folded.begin(), folded.end(), folded.begin(),
                   [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
    return folded;
}
} // namespace

void AddToNegativeDnsCache(const std::string &host)
{
    Cache &cache = TheCache();
    QAutoLock hold(cache.guard);
    if (cache.names.size() < kMostNames)
        cache.names.insert(Folded(host));
}

bool IsInNegativeDnsCache(const std::string &host)
{
    Cache &cache = TheCache();
    QAutoLock hold(cache.guard);
    return cache.names.count(Folded(host)) != 0;
}

void ClearNegativeDnsCache()
{
    Cache &cache = TheCache();
    QAutoLock hold(cache.guard);
    cache.names.clear();
}
