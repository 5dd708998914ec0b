#pragma once
#include <cstddef>
#include <cstdint>

namespace platform {

// An IPv4 socket address as the engine keeps it: address in network order,
// port in host order, and the eight bytes of zero padding that the engine's
// UDP transport uses to carry a host identity (always zero for TCP).
struct SocketAddress {
    uint32_t ip = 0;
    uint16_t port = 0;
    uint8_t padding[8] = {};
};

// Thin BSD socket calls for IPv4 TCP. Each returns -1 (or false) on failure
// and leaves the Winsock number of the error in LastSocketError(), kept per
// thread like WSAGetLastError.
int32_t LastSocketError();
void SetLastSocketError(int32_t code);

// A non-blocking, close-on-exec TCP socket.
int OsTcpSocket();
int OsBind(int fd, const SocketAddress &address);
int OsListen(int fd, int backlog);
// Non-blocking accept; the new socket is non-blocking as well.
int OsAccept(int fd, SocketAddress *peer);
int OsConnect(int fd, const SocketAddress &address);
// Never raises SIGPIPE.
long OsSend(int fd, const void *data, size_t size);
long OsRecv(int fd, void *buffer, size_t size);
int OsGetSockName(int fd, SocketAddress *local);
// The outcome of a non-blocking connect (SO_ERROR) as a Winsock number, 0
// when it succeeded or is still in progress; -1 when the query failed.
int OsPendingError(int fd);
int OsSetReuseAddress(int fd);
int OsSetReceiveBuffer(int fd, int bytes);
int OsClose(int fd);

// IPv4 datagrams. A non-blocking, close-on-exec UDP socket.
int OsUdpSocket();
int OsSetBroadcast(int fd);
// Never raises SIGPIPE; the padding of the address is not sent.
long OsSendTo(int fd, const void *data, size_t size, const SocketAddress &to);
// One datagram, cut to size; from gets its source.
long OsRecvFrom(int fd, void *buffer, size_t size, SocketAddress *from);

enum class WaitFor { Read, Write };
// Waits with poll; timeoutMs < 0 waits without limit. 1 when ready (an error
// or hang-up counts as ready: the next call reports it), 0 on time-out, -1
// when poll failed.
int OsWait(int fd, WaitFor what, int timeoutMs);

} // namespace platform
