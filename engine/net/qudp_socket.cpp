#include "engine/net/qudp_socket.h"

#include "engine/base/log_channels.h"
#include "engine/base/quarrowlight_log.h"
#include "platform/socket_os.h"
#include "platform/winsock_codes.h"

QUdpSocket::~QUdpSocket()
{
    Close();
}

bool QUdpSocket::Open(int32_t port, uint32_t address)
{
    Close();
    wantedPort = port;
    wantedAddress = address;
    handle = platform::OsUdpSocket();
    platform::SocketAddress local;
    local.ip = address;
    local.port = static_cast<uint16_t>(port);
    if (handle < 0 || platform::OsBind(handle, local) != 0 ||
        (broadcast && platform::OsSetBroadcast(handle) != 0)) {
        lastError = static_cast<uint32_t>(platform::LastSocketError());
        EngineLogFormat(LOG_CHANNEL_FRONT_END, "socket bind error : Last Error(%lu)",
                        static_cast<unsigned long>(lastError));
        Close();
        return false;
    }
    platform::SocketAddress bound;
    if (platform::OsGetSockName(handle, &bound) == 0) {
        boundPort = bound.port;
        boundAddress = bound.ip;
    }
    open = true;
    return true;
}

void QUdpSocket::Close()
{
    if (handle >= 0)
        platform::OsClose(handle);
    handle = -1;
    open = false;
    boundPort = 0;
    boundAddress = 0;
}

int32_t QUdpSocket::SendTo(const void *data, int32_t length, uint32_t address, int32_t port)
{
    if (data == nullptr || length < 1 || length > kMaxDatagram || port < 1 || port > 65535)
        return -1;
    if (!open && !Open(wantedPort, wantedAddress))
        return -1;
    platform::SocketAddress to;
    to.ip = address;
    to.port = static_cast<uint16_t>(port);
    long sent = platform::OsSendTo(handle, data, static_cast<size_t>(length), to);
    if (sent < 0) {
        lastError = static_cast<uint32_t>(platform::LastSocketError());
        if (lastError != platform::WSAEWOULDBLOCK)
            Close();
        return -1;
    }
    return static_cast<int32_t>(sent);
}

int32_t QUdpSocket::RecvFrom(void *buffer, int32_t capacity)
{
    if (!open)
        return -1;
    if (buffer == nullptr || capacity < 1)
        return 0;
    if (capacity > kMaxDatagram)
        capacity = kMaxDatagram;
    platform::SocketAddress from;
    long received = platform::OsRecvFrom(handle, buffer, static_cast<size_t>(capacity), &from);
    if (received < 0) {
        lastError = static_cast<uint32_t>(platform::LastSocketError());
        if (lastError == platform::WSAEWOULDBLOCK)
            return 0;
        // An ICMP error left on the socket says nothing about the next
        // datagram; only a socket that cannot receive at all is closed.
        if (lastError == platform::WSAECONNREFUSED || lastError == platform::WSAECONNRESET)
            return 0;
        Close();
        return -1;
    }
    sourceAddress = from.ip;
    sourcePort = from.port;
    return static_cast<int32_t>(received);
}
