#include "platform/resolver_os.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <netdb.h>
#include <netinet/in.h>
#include <sstream>
#include <sys/socket.h>

#include "platform/winsock_codes.h"

namespace platform {
namespace {
constexpr const char *kResolverConfig = "/etc/resolv.conf";
// resolv.conf lines are short; a longer one is not a name-server entry.
constexpr size_t kLongestServerText = 255;

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r';
}
} // namespace

int32_t LookupIpv4(const std::string &host, std::vector<uint32_t> &addresses)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *list = nullptr;
    errno = 0;
    int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &list);
    if (rc != 0)
        return WinsockCode(errno, rc);
    for (const addrinfo *entry = list; entry != nullptr; entry = entry->ai_next) {
        if (entry->ai_family != AF_INET || entry->ai_addrlen < sizeof(sockaddr_in))
            continue;
        addresses.push_back(reinterpret_cast<const sockaddr_in *>(entry->ai_addr)->sin_addr.s_addr);
    }
    ::freeaddrinfo(list);
    return 0;
}

std::vector<std::string> ParseNameServers(const std::string &text)
{
    static const char kKey[] = "nameserver";
    std::vector<std::string> servers;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        size_t i = pos;
        while (i < end && IsBlank(text[i]))
            ++i;
        const size_t keyLength = sizeof kKey - 1;
        if (end - i > keyLength && text.compare(i, keyLength, kKey) == 0 && IsBlank(text[i + keyLength])) {
            i += keyLength;
            while (i < end && IsBlank(text[i]))
                ++i;
            size_t stop = i;
            while (stop < end && !IsBlank(text[stop]) && text[stop] != '#' && text[stop] != ';')
                ++stop;
            if (stop > i && stop - i <= kLongestServerText)
                servers.push_back(text.substr(i, stop - i));
        }
        pos = end + 1;
    }
    return servers;
}

std::vector<std::string> DnsServers()
{
    std::ifstream in(kResolverConfig, std::ios::binary);
    if (!in)
        return {};
    std::ostringstream text;
    text << in.rdbuf();
    return ParseNameServers(text.str());
}

} // namespace platform
