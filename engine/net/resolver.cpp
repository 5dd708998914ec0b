#include "engine/net/resolver.h"

#include <vector>

#include "engine/net/host_lookup.h"
#include "engine/net/ipv4_address.h"
#include "engine/net/negative_dns_cache.h"
#include "platform/winsock_codes.h"

uint32_t Resolve(const std::string &name)
{
    if (name.empty())
        return kNoAddress;
    // Numeric text never goes to the system, not even when it is malformed.
    if (name[0] >= '0' && name[0] <= '9' && IsDigitsAndDots(name)) {
        uint32_t parsed = DottedParse(name);
        return parsed == kNoAddress ? kNoAddress : HostToNetwork32(parsed);
    }
    if (IsInNegativeDnsCache(name))
        return kNoAddress;
    std::vector<uint32_t> addresses;
    int32_t error = LookupHost(name, addresses);
    if (error == platform::WSAHOST_NOT_FOUND)
        AddToNegativeDnsCache(name);
    if (error != 0 || addresses.empty())
        return kNoAddress;
    return addresses.front();
}
