#include "engine/net/stream_sockets.h"

#include <algorithm>
#include <cstring>

#include "platform/random_bytes.h"
#include "platform/tick.h"
#include "platform/winsock_codes.h"

namespace {
constexpr int32_t kSmallestBacklog = 5;
constexpr int32_t kLargestBacklog = 4096;
constexpr size_t kTagBytes = 8;
} // namespace

QStreamSockets::QStreamSockets(IStreamWire &wireOut) : wire(wireOut)
{
    std::memcpy(identity + kTagBytes, "UDP0", 4);
}

void QStreamSockets::SetIdentity(const uint8_t *identity8)
{
    std::memcpy(identity, identity8, kTagBytes);
}

int32_t QStreamSockets::Fail(int32_t code)
{
    lastError = code;
    return -1;
}

QUSocket *QStreamSockets::Find(int32_t handle)
{
    auto found = sockets.find(handle);
    return found == sockets.end() ? nullptr : found->second.get();
}

QUSocket *QStreamSockets::Live(int32_t handle)
{
    QUSocket *socket = Find(handle);
    return socket != nullptr && !socket->pending && !socket->closing ? socket : nullptr;
}

QUSocket *QStreamSockets::ByConnectionId(uint32_t id)
{
    auto found = byConnectionId.find(id);
    return found == byConnectionId.end() ? nullptr : found->second;
}

uint32_t QStreamSockets::NewConnectionId()
{
    // Random, so an off-path host cannot guess one to complete a handshake or
    // inject data; unique among the live sockets, never 0.
    uint32_t id = 0;
    while (id == 0 || byConnectionId.count(id) != 0) {
        if (!platform::RandomBytes(&id, sizeof id))
            id = platform::TickCount() * 2654435761u + static_cast<uint32_t>(nextHandle);
    }
    return id;
}

uint32_t QStreamSockets::NewAttempt()
{
    // 0 would match any echoed attempt; the tick may well be 0.
    const uint32_t tick = platform::TickCount();
    return tick == 0 ? 1 : tick;
}

void QStreamSockets::Remove(int32_t handle)
{
    auto found = sockets.find(handle);
    if (found == sockets.end())
        return;
    byConnectionId.erase(found->second->localConnectionId);
    sockets.erase(found);
}

void QStreamSockets::MarkClosed(QUSocket &socket, int32_t failure)
{
    if (socket.state != STREAM_ESTABLISHED && socket.failure == 0)
        socket.failure = failure;
    // What arrived in order is the caller's still; the windows are not.
    if (!socket.receiveSlots.empty())
        MoveInOrder(socket);
    socket.state = STREAM_CLOSED;
    socket.FreeBuffers();
    wire.Wake(socket.handle);
}

int32_t QStreamSockets::Socket()
{
    auto socket = std::make_unique<QUSocket>();
    socket->handle = nextHandle;
    nextHandle = nextHandle == INT32_MAX ? 1 : nextHandle + 1;
    socket->localConnectionId = NewConnectionId();
    socket->attempt = NewAttempt();
    byConnectionId[socket->localConnectionId] = socket.get();
    const int32_t handle = socket->handle;
    sockets[handle] = std::move(socket);
    return handle;
}

int32_t QStreamSockets::Bind(int32_t handle, const TSockAddr &address)
{
    QUSocket *socket = Live(handle);
    if (socket == nullptr)
        return Fail(platform::WSAENOTSOCK);
    if (socket->state != STREAM_NEW || address.port == 0)
        return Fail(platform::WSAEINVAL);
    for (const auto &entry : sockets) {
        const QUSocket &other = *entry.second;
        if ((other.state == STREAM_BOUND || other.state == STREAM_LISTENING) && other.servicePort == address.port)
            return Fail(platform::WSAEADDRINUSE);
    }
    socket->state = STREAM_BOUND;
    socket->servicePort = address.port;
    return 0;
}

int32_t QStreamSockets::Listen(int32_t handle, int32_t wanted)
{
    QUSocket *socket = Live(handle);
    if (socket == nullptr)
        return Fail(platform::WSAENOTSOCK);
    if (!enabled)
        return Fail(platform::WSASYSNOTREADY);
    if (socket->state != STREAM_BOUND && socket->state != STREAM_LISTENING)
        return Fail(platform::WSAEINVAL);
    socket->state = STREAM_LISTENING;
    backlog = std::min(kLargestBacklog, std::max({wanted, backlog, kSmallestBacklog}));
    return 0;
}

int32_t QStreamSockets::Accept(int32_t handle, TSockAddr *peer)
{
    QUSocket *listener = Live(handle);
    if (listener == nullptr)
        return Fail(platform::WSAENOTSOCK);
    if (listener->state != STREAM_LISTENING)
        return Fail(platform::WSAEINVAL);
    // The most recently added one: handles only grow (until they wrap).
    for (auto entry = sockets.rbegin(); entry != sockets.rend(); ++entry) {
        QUSocket &socket = *entry->second;
        if (!socket.pending || socket.state != STREAM_ESTABLISHED || socket.servicePort != listener->servicePort)
            continue;
        socket.pending = false;
        if (peer != nullptr) {
            *peer = TSockAddr();
            peer->ip = socket.remoteIp;
            peer->port = static_cast<uint16_t>(socket.remotePort);
            std::memcpy(peer->padding, socket.remoteIdentity, kTagBytes);
        }
        return socket.handle;
    }
    return Fail(platform::WSAEWOULDBLOCK);
}

int32_t QStreamSockets::Connect(int32_t handle, const TSockAddr &address)
{
    QUSocket *socket = Live(handle);
    if (socket == nullptr)
        return Fail(platform::WSAENOTSOCK);
    if (!enabled || address.ip == 0 || address.ip == 0xFFFFFFFFu || address.port == 0)
        return Fail(platform::WSAENETUNREACH);
    if (socket->state != STREAM_NEW)
        return Fail(platform::WSAEINTR);
    const uint32_t now = platform::TickCount();
    socket->state = STREAM_INTRODUCING;
    socket->lastHeardTick = now;
    socket->lastIntroductionTick = now;
    socket->remoteIp = address.ip;
    socket->remotePort = address.port;
    socket->requestedPort = address.port;
    socket->servicePort = address.port;
    std::memcpy(socket->remoteIdentity, address.padding, kTagBytes);
    std::memcpy(socket->remoteIdentity + kTagBytes, "UDP0", 4);
    socket->requestId = wire.QueueIntroduction(address.ip, address.padding);
    return Fail(platform::WSAEWOULDBLOCK);
}

int32_t QStreamSockets::Send(int32_t handle, const uint8_t *data, int32_t length)
{
    QUSocket *socket = Live(handle);
    if (socket == nullptr)
        return Fail(platform::WSAENOTSOCK);
    if (!enabled || data == nullptr || length < 0)
        return Fail(platform::WSAEINVAL);
    if (socket->state == STREAM_INTRODUCING || socket->state == STREAM_CONNECTING)
        return Fail(platform::WSAEWOULDBLOCK);
    if (socket->state != STREAM_ESTABLISHED)
        return Fail(platform::WSAENOTCONN);
    const size_t room = kBacklogBytes - std::min(kBacklogBytes, socket->BacklogBytes());
    const size_t taken = std::min(room, static_cast<size_t>(length));
    if (taken == 0)
        return Fail(platform::WSAEWOULDBLOCK);
    socket->AppendBacklog(data, taken);
    FillSendWindow(*socket);
    return static_cast<int32_t>(taken);
}

int32_t QStreamSockets::Recv(int32_t handle, uint8_t *buffer, int32_t length)
{
    QUSocket *socket = Live(handle);
    if (socket == nullptr)
        return Fail(platform::WSAENOTSOCK);
    if (buffer == nullptr || length <= 0)
        return Fail(platform::WSAEINVAL);
    int32_t copied = 0;
    while (copied < length && !socket->ready.empty()) {
        std::vector<uint8_t> &front = socket->ready.front();
        if (front.empty()) {
            if (copied > 0)
                break;
            // The remote side's end mark: nothing follows it.
            socket->ready.clear();
            socket->readyBytes = 0;
            MarkClosed(*socket, platform::WSAEINVAL);
            return Fail(platform::WSAEINVAL);
        }
        const size_t count = std::min(front.size() - socket->readyOffset, static_cast<size_t>(length - copied));
        std::memcpy(buffer + copied, front.data() + socket->readyOffset, count);
        copied += static_cast<int32_t>(count);
        socket->readyOffset += count;
        socket->readyBytes -= count;
        if (socket->readyOffset == front.size()) {
            socket->ready.pop_front();
            socket->readyOffset = 0;
        }
    }
    if (copied > 0) {
        if (socket->state == STREAM_ESTABLISHED) {
            const uint32_t before = socket->nextExpected;
            MoveInOrder(*socket);
            if (socket->nextExpected != before)
                socket->ackDue = true; // the window reopened: tell the sender
        }
        return copied;
    }
    if (socket->state == STREAM_ESTABLISHED)
        return Fail(platform::WSAEWOULDBLOCK);
    return Fail(platform::WSAENOTCONN);
}

int32_t QStreamSockets::Ready(int32_t handle, TWaitFor what)
{
    QUSocket *socket = Live(handle);
    if (socket == nullptr)
        return Fail(platform::WSAENOTSOCK);
    if (socket->state == STREAM_CLOSED)
        return 1;
    if (what == TWaitFor::Read) {
        if (socket->state == STREAM_LISTENING) {
            for (const auto &entry : sockets) {
                const QUSocket &other = *entry.second;
                if (other.pending && other.state == STREAM_ESTABLISHED && other.servicePort == socket->servicePort)
                    return 1;
            }
            return 0;
        }
        return socket->state == STREAM_ESTABLISHED && !socket->ready.empty() ? 1 : 0;
    }
    return socket->state == STREAM_ESTABLISHED && socket->BacklogBytes() < kBacklogBytes ? 1 : 0;
}

int32_t QStreamSockets::GetSockName(int32_t handle, TSockAddr *local)
{
    QUSocket *socket = Live(handle);
    if (socket == nullptr || local == nullptr)
        return Fail(socket == nullptr ? platform::WSAENOTSOCK : platform::WSAEINVAL);
    if (socket->state != STREAM_ESTABLISHED)
        return Fail(platform::WSAENOTCONN);
    *local = TSockAddr();
    local->ip = localAddress;
    local->port = static_cast<uint16_t>(socket->servicePort);
    std::memcpy(local->padding, identity, kTagBytes);
    return 0;
}

int32_t QStreamSockets::PendingError(int32_t handle)
{
    QUSocket *socket = Live(handle);
    if (socket == nullptr)
        return Fail(platform::WSAENOTSOCK);
    if (socket->state != STREAM_CLOSED || socket->connected)
        return 0;
    return socket->failure != 0 ? socket->failure : platform::WSAETIMEDOUT;
}

int32_t QStreamSockets::Close(int32_t handle)
{
    QUSocket *socket = Live(handle);
    if (socket == nullptr)
        return Fail(platform::WSAENOTSOCK);
    if (socket->state == STREAM_BOUND || socket->state == STREAM_LISTENING) {
        std::vector<int32_t> dropped;
        for (const auto &entry : sockets) {
            if (entry.second->pending && entry.second->servicePort == socket->servicePort)
                dropped.push_back(entry.first);
        }
        for (int32_t each : dropped)
            Remove(each);
    } else if (socket->connected && socket->state == STREAM_ESTABLISHED) {
        // Closing at once would lose what the other side has not yet
        // acknowledged: the socket stays until it has.
        socket->closing = true;
        FinishClosing(*socket);
        return 0;
    }
    Remove(handle);
    return 0;
}

bool QStreamSockets::FinishClosing(QUSocket &socket)
{
    if (!socket.closing)
        return false;
    if (socket.state == STREAM_ESTABLISHED) {
        if (socket.SendCount() > 0 || socket.BacklogBytes() > 0)
            return false;
        SendClose(socket);
        SendClose(socket);
    }
    Remove(socket.handle);
    return true;
}

void QStreamSockets::Reset()
{
    sockets.clear();
    byConnectionId.clear();
}
