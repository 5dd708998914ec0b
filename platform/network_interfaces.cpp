#include "platform/network_interfaces.h"

#include <arpa/inet.h>
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

bool IsPrivateAddress(uint32_t networkOrder)
{
    const uint32_t host = ntohl(networkOrder);
    const uint32_t first = host >> 24;
    if (first <= 6 || first == 10 || first == 127)
        return true;
    if ((host & 0xFFFF0000u) == 0xC0A80000u) // 192.168/16
        return true;
    if ((host & 0xFFFF0000u) == 0xA9FE0000u) // 169.254/16
        return true;
    return (host & 0xFFF00000u) == 0xAC100000u; // 172.16/12
}

std::string Ipv4Text(uint32_t networkOrder)
{
    in_addr address{};
    address.s_addr = networkOrder;
    char text[INET_ADDRSTRLEN] = {};
    return ::inet_ntop(AF_INET, &address, text, sizeof text) != nullptr ? text : "";
}

} // namespace platform
