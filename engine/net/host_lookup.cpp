#include "engine/net/host_lookup.h"

#include <memory>

#include "engine/base/qmutex.h"
#include "engine/base/reserved_host.h"
#include "platform/resolver_os.h"
#include "platform/winsock_codes.h"

namespace {
struct Replacement {
    QSMutex guard;
    std::shared_ptr<const THostLookup> lookup;
};

Replacement &TheReplacement()
{
    static Replacement *replacement = new Replacement;
    return *replacement;
}
} // namespace

int32_t LookupHost(const std::string &host, std::vector<uint32_t> &addresses)
{
    // An embedded zero would let the system see a shorter name than the one
    // checked here.
    if (host.empty() || host.find('\0') != std::string::npos || IsReservedHostName(host))
        return platform::WSAHOST_NOT_FOUND;
    std::shared_ptr<const THostLookup> replaced;
    {
        Replacement &replacement = TheReplacement();
        QAutoLock hold(replacement.guard);
        replaced = replacement.lookup;
    }
    if (replaced)
        return (*replaced)(host, addresses);
    return platform::LookupIpv4(host, addresses);
}

void SetHostLookup(THostLookup lookup)
{
    Replacement &replacement = TheReplacement();
    QAutoLock hold(replacement.guard);
    if (lookup)
        replacement.lookup = std::make_shared<const THostLookup>(std::move(lookup));
    else
        replacement.lookup.reset();
}
