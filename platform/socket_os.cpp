#include "platform/socket_os.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include "platform/winsock_codes.h"

namespace platform {
namespace {
thread_local int32_t lastError = 0;

int Fail()
{
    lastError = WinsockCode(errno);
    return -1;
}

sockaddr_in ToSockaddr(const SocketAddress &address)
{
    sockaddr_in out{};
    out.sin_family = AF_INET;
    out.sin_port = htons(address.port);
    out.sin_addr.s_addr = address.ip;
    static_assert(sizeof out.sin_zero == sizeof address.padding);
    std::memcpy(out.sin_zero, address.padding, sizeof out.sin_zero);
    return out;
}

void FromSockaddr(const sockaddr_in &in, SocketAddress *out)
{
    out->ip = in.sin_addr.s_addr;
    out->port = ntohs(in.sin_port);
    std::memcpy(out->padding, in.sin_zero, sizeof out->padding);
}

int64_t MonotonicMs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}
} // namespace

int32_t LastSocketError()
{
    return lastError;
}

void SetLastSocketError(int32_t code)
{
    lastError = code;
}

int OsTcpSocket()
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    return fd < 0 ? Fail() : fd;
}

int OsBind(int fd, const SocketAddress &address)
{
    sockaddr_in in = ToSockaddr(address);
    return ::bind(fd, reinterpret_cast<const sockaddr *>(&in), sizeof in) == 0 ? 0 : Fail();
}

int OsListen(int fd, int backlog)
{
    return ::listen(fd, backlog) == 0 ? 0 : Fail();
}

int OsAccept(int fd, SocketAddress *peer)
{
    sockaddr_in in{};
    socklen_t length = sizeof in;
    int accepted;
    do {
        accepted = ::accept4(fd, reinterpret_cast<sockaddr *>(&in), &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
    } while (accepted < 0 && errno == EINTR);
    if (accepted < 0)
        return Fail();
    if (peer != nullptr)
        FromSockaddr(in, peer);
    return accepted;
}

int OsConnect(int fd, const SocketAddress &address)
{
    sockaddr_in in = ToSockaddr(address);
    // The padding is ours, not the kernel's.
    std::memset(in.sin_zero, 0, sizeof in.sin_zero);
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&in), sizeof in) == 0)
        return 0;
    // An interrupted connect goes on in the background, like one in progress.
    if (errno == EINTR)
        errno = EINPROGRESS;
    return Fail();
}

long OsSend(int fd, const void *data, size_t size)
{
    ssize_t sent;
    do {
        sent = ::send(fd, data, size, MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    return sent < 0 ? Fail() : sent;
}

long OsRecv(int fd, void *buffer, size_t size)
{
    ssize_t received;
    do {
        received = ::recv(fd, buffer, size, 0);
    } while (received < 0 && errno == EINTR);
    return received < 0 ? Fail() : received;
}

int OsGetSockName(int fd, SocketAddress *local)
{
    sockaddr_in in{};
    socklen_t length = sizeof in;
    if (::getsockname(fd, reinterpret_cast<sockaddr *>(&in), &length) != 0)
        return Fail();
    FromSockaddr(in, local);
    return 0;
}

int OsPendingError(int fd)
{
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
        return Fail();
    return WinsockCode(error);
}

int OsSetReuseAddress(int fd)
{
    int on = 1;
    return ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0 ? 0 : Fail();
}

int OsSetReceiveBuffer(int fd, int bytes)
{
    return ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes) == 0 ? 0 : Fail();
}

int OsClose(int fd)
{
    // Linux releases the descriptor even when close reports EINTR; never retry.
    return ::close(fd) == 0 ? 0 : Fail();
}

int OsUdpSocket()
{
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    return fd < 0 ? Fail() : fd;
}

int OsSetBroadcast(int fd)
{
    int on = 1;
    return ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) == 0 ? 0 : Fail();
}

long OsSendTo(int fd, const void *data, size_t size, const SocketAddress &to)
{
    sockaddr_in in = ToSockaddr(to);
    std::memset(in.sin_zero, 0, sizeof in.sin_zero);
    ssize_t sent;
    do {
        sent = ::sendto(fd, data, size, MSG_NOSIGNAL, reinterpret_cast<const sockaddr *>(&in), sizeof in);
    } while (sent < 0 && errno == EINTR);
    return sent < 0 ? Fail() : sent;
}

long OsRecvFrom(int fd, void *buffer, size_t size, SocketAddress *from)
{
    sockaddr_in in{};
    socklen_t length = sizeof in;
    ssize_t received;
    do {
        received = ::recvfrom(fd, buffer, size, 0, reinterpret_cast<sockaddr *>(&in), &length);
    } while (received < 0 && errno == EINTR);
    if (received < 0)
        return Fail();
    if (from != nullptr)
        FromSockaddr(in, from);
    return received;
}

int OsWait(int fd, WaitFor what, int timeoutMs)
{
    pollfd entry{};
    entry.fd = fd;
    entry.events = what == WaitFor::Read ? POLLIN : POLLOUT;
    const int64_t deadline = timeoutMs < 0 ? 0 : MonotonicMs() + timeoutMs;
    for (;;) {
        int wait = timeoutMs;
        if (timeoutMs > 0) {
            int64_t left = deadline - MonotonicMs();
            wait = left > 0 ? static_cast<int>(left) : 0;
        }
        int ready = ::poll(&entry, 1, wait);
        if (ready > 0)
            return 1;
        if (ready == 0)
            return 0;
        if (errno != EINTR)
            return Fail();
    }
}

} // namespace platform
