#include "engine/net/local_address.h"

#include "engine/net/ipv4_address.h"
#include "platform/network_interfaces.h"

uint32_t ChooseLocalAddress(const std::vector<uint32_t> &candidates, int32_t maxCount)
{
    size_t limit = maxCount < 0 ? 65535 : static_cast<size_t>(maxCount);
    if (limit > candidates.size())
        limit = candidates.size();
    if (limit == 0)
        return kNoAddress;
    for (size_t i = 0; i < limit; ++i) {
        if (!platform::IsPrivateAddress(candidates[i]))
            return candidates[i];
    }
    return candidates.front();
}

uint32_t PickLocalAddress(int32_t maxCount)
{
    return ChooseLocalAddress(platform::UpInterfaceIpv4Addresses(), maxCount);
}
