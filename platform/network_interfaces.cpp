#include "platform/network_interfaces.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

namespace platform {

std::vector<uint32_t> UpInterfaceIpv4Addresses()
{
    std::vector<uint32_t> addresses;
    ifaddrs *list = nullptr;
    if (::getifaddrs(&list) != 0)
        return addresses;
    for (const ifaddrs *entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET)
            continue;
        if ((entry->ifa_flags & IFF_UP) == 0 || (entry->ifa_flags & IFF_LOOPBACK) != 0)
            continue;
        addresses.push_back(reinterpret_cast<const sockaddr_in *>(entry->ifa_addr)->sin_addr.s_addr);
    }
    ::freeifaddrs(list);
    return addresses;
}

} // namespace platform
