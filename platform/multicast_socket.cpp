#include "platform/multicast_socket.h"

#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {

MulticastSocket::~MulticastSocket()
{
    Leave();
}

bool MulticastSocket::Join(uint32_t groupAddress, uint16_t groupPort, uint32_t interfaceAddress)
{
    Leave();
    const int made = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_UDP);
    if (made < 0)
        return false;
    const int on = 1;
    const unsigned char ttl = 1;
    const unsigned char loop = 1;
    sockaddr_in bound{};
    bound.sin_family = AF_INET;
    bound.sin_addr.s_addr = groupAddress;
    bound.sin_port = htons(groupPort);
    ip_mreq membership{};
    membership.imr_multiaddr.s_addr = groupAddress;
    membership.imr_interface.s_addr = interfaceAddress;
    in_addr outgoing{};
    outgoing.s_addr = interfaceAddress;
    const bool ready = setsockopt(made, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0 &&
                       bind(made, reinterpret_cast<const sockaddr *>(&bound), sizeof bound) == 0 &&
                       setsockopt(made, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof membership) == 0 &&
                       setsockopt(made, IPPROTO_IP, IP_MULTICAST_IF, &outgoing, sizeof outgoing) == 0 &&
                       setsockopt(made, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl) == 0 &&
                       setsockopt(made, IPPROTO_IP, IP_MULTICAST_LOOP, &loop, sizeof loop) == 0;
    if (!ready) {
        const int error = errno;
        close(made);
        errno = error;
        return false;
    }
    fd = made;
    group = groupAddress;
    port = groupPort;
    return true;
}

void MulticastSocket::Leave()
{
    if (fd >= 0)
        close(fd);
    fd = -1;
}

bool MulticastSocket::SendToGroup(const uint8_t *bytes, size_t length)
{
    if (fd < 0)
        return false;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = group;
    to.sin_port = htons(port);
    ssize_t sent;
    do {
        sent = sendto(fd, bytes, length, MSG_NOSIGNAL, reinterpret_cast<const sockaddr *>(&to), sizeof to);
    } while (sent < 0 && errno == EINTR);
    return sent == static_cast<ssize_t>(length);
}

int MulticastSocket::Receive(uint8_t *buffer, size_t capacity, size_t &length, uint32_t &source)
{
    if (fd < 0)
        return -1;
    sockaddr_in from{};
    socklen_t fromLength = sizeof from;
    ssize_t got;
    do {
        got = recvfrom(fd, buffer, capacity, MSG_TRUNC, reinterpret_cast<sockaddr *>(&from), &fromLength);
    } while (got < 0 && errno == EINTR);
    if (got < 0)
        return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
    length = static_cast<size_t>(got);
    source = from.sin_addr.s_addr;
    return 1;
}

} // namespace platform
