#include "platform/system_facts.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstdlib>
#include <cstring>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netpacket/packet.h>
#include <sys/socket.h>
#include <sys/utsname.h>

namespace platform {

namespace {
NetworkAdapterFact &AdapterNamed(std::vector<NetworkAdapterFact> &list, const char *name)
{
    for (auto &adapter : list) {
        if (adapter.name == name)
            return adapter;
    }
    list.emplace_back();
    list.back().name = name;
    return list.back();
}
} // namespace

bool ListNetworkAdapters(std::vector<NetworkAdapterFact> &out)
{
    out.clear();
    struct ifaddrs *all = nullptr;
    if (getifaddrs(&all) != 0)
        return false;
    // The link-level entries come first, in interface-index order.
    for (struct ifaddrs *it = all; it != nullptr; it = it->ifa_next) {
        if (it->ifa_name == nullptr)
            continue;
        NetworkAdapterFact &adapter = AdapterNamed(out, it->ifa_name);
        adapter.loopback = (it->ifa_flags & IFF_LOOPBACK) != 0;
        if (it->ifa_addr == nullptr)
            continue;
        if (it->ifa_addr->sa_family == AF_PACKET) {
            const auto *link = reinterpret_cast<const struct sockaddr_ll *>(it->ifa_addr);
            size_t length = std::min<size_t>(link->sll_halen, sizeof adapter.hardware);
            std::memcpy(adapter.hardware, link->sll_addr, length);
        } else if (it->ifa_addr->sa_family == AF_INET && adapter.firstIpv4.empty()) {
            const auto *in = reinterpret_cast<const struct sockaddr_in *>(it->ifa_addr);
            char text[INET_ADDRSTRLEN] = {};
            if (inet_ntop(AF_INET, &in->sin_addr, text, sizeof text) != nullptr)
                adapter.firstIpv4 = text;
        }
    }
    freeifaddrs(all);
    return true;
}

bool QueryKernelIdentity(KernelIdentity &out)
{
    struct utsname names {};
    if (uname(&names) != 0)
        return false;
    out.release = names.release;
    out.machine = names.machine;
    return true;
}

std::string CharacterLocaleName()
{
    for (const char *variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char *value = std::getenv(variable);
        if (value != nullptr && value[0] != '\0')
            return value;
    }
    return std::string();
}

} // namespace platform
