// Connection set-up and tear-down of the stream sockets, the packet
// dispatch and the three-second connection timers.
#include <cstring>

#include "engine/net/stream_sockets.h"
#include "platform/tick.h"
#include "platform/winsock_codes.h"

namespace {
constexpr size_t kTagBytes = 8;
constexpr uint32_t kIntroductionRepeatMs = 3000;

bool SameIdentity(const uint8_t *a, const uint8_t *b)
{
    return std::memcmp(a, b, kStreamIdentityBytes) == 0;
}
} // namespace

TStreamPacket QStreamSockets::Header(QUSocket &socket, uint32_t type, bool controlEcho)
{
    TStreamPacket packet;
    packet.connectionId = socket.remoteConnectionId;
    packet.sequence = controlEcho ? socket.lastControlSequence : ++socket.packetCounter;
    packet.type = type;
    std::memcpy(packet.identity, socket.remoteIdentity, kStreamIdentityBytes);
    return packet;
}

void QStreamSockets::Transmit(QUSocket &socket, const std::vector<uint8_t> &datagram)
{
    wire.SendDatagram(datagram.data(), datagram.size(), socket.remoteIp, socket.remotePort);
}

void QStreamSockets::SendConnect(QUSocket &socket)
{
    TStreamPacket packet = Header(socket, STREAM_CONNECT, false);
    packet.connectionId = socket.localConnectionId;
    packet.SetField(32, socket.requestedPort);
    std::memcpy(packet.fields + 4, identity, kStreamIdentityBytes);
    packet.SetField(48, static_cast<uint32_t>(socket.servicePort));
    packet.SetField(60, socket.attempt);
    Transmit(socket, EncodeStreamPacket(packet));
}

void QStreamSockets::SendAccept(QUSocket &socket)
{
    TStreamPacket packet = Header(socket, STREAM_ACCEPT, false);
    packet.connectionId = socket.localConnectionId;
    packet.SetField(32, socket.requestedPort);
    std::memcpy(packet.fields + 4, socket.remoteIdentity, kStreamIdentityBytes);
    packet.SetField(48, static_cast<uint32_t>(socket.servicePort));
    packet.SetField(56, socket.attempt);
    packet.SetField(60, socket.remoteConnectionId);
    Transmit(socket, EncodeStreamPacket(packet));
}

void QStreamSockets::SendAcceptAck(QUSocket &socket, const TStreamPacket &accept)
{
    TStreamPacket packet = Header(socket, STREAM_ACCEPT_ACK, true);
    packet.SetField(32, accept.Field(56));
    Transmit(socket, EncodeStreamPacket(packet));
}

void QStreamSockets::SendClose(QUSocket &socket)
{
    TStreamPacket packet = Header(socket, STREAM_CLOSE, true);
    packet.SetField(32, static_cast<uint32_t>(socket.servicePort));
    packet.SetField(36, socket.localConnectionId);
    packet.SetField(40, socket.attempt);
    Transmit(socket, EncodeStreamPacket(packet));
}

void QStreamSockets::SendKeepAlive(QUSocket &socket)
{
    TStreamPacket packet = Header(socket, STREAM_KEEP_ALIVE, false);
    packet.SetField(32, static_cast<uint32_t>(socket.servicePort));
    Transmit(socket, EncodeStreamPacket(packet));
}

void QStreamSockets::SendRefuse(const TStreamPacket &connect, uint32_t ip, int32_t port)
{
    TStreamPacket packet = connect;
    packet.type = STREAM_REFUSE;
    std::memcpy(packet.identity, connect.fields + 4, kStreamIdentityBytes);
    const auto datagram = EncodeStreamPacket(packet);
    wire.SendDatagram(datagram.data(), datagram.size(), ip, port);
}

void QStreamSockets::HandleDatagram(const uint8_t *bytes, size_t length, uint32_t ip, int32_t port)
{
    TStreamPacket packet;
    if (!enabled || !ParseStreamPacket(bytes, length, packet))
        return;
    if (std::memcmp(packet.identity, identity, kTagBytes) != 0)
        return;
    if (packet.type == STREAM_CONNECT) {
        OnConnect(packet, ip, port);
        return;
    }
    if (packet.type == STREAM_ACCEPT) {
        OnAccept(packet, ip, port);
        return;
    }
    QUSocket *socket = ByConnectionId(packet.connectionId);
    if (socket == nullptr || socket->state == STREAM_CLOSED)
        return;
    switch (packet.type) {
    case STREAM_ACCEPT_ACK:
        OnAcceptAck(*socket, packet, ip, port);
        break;
    case STREAM_REFUSE:
        OnRefuse(*socket, packet, ip, port);
        break;
    case STREAM_CLOSE:
        OnClose(*socket, packet, ip);
        break;
    case STREAM_DATA:
        OnData(*socket, packet, ip, port);
        break;
    case STREAM_ACK:
        OnAck(*socket, packet, ip);
        break;
    case STREAM_SINGLE_ACK:
        OnSingleAck(*socket, packet, ip);
        break;
    case STREAM_KEEP_ALIVE:
        if (socket->state == STREAM_ESTABLISHED && ip == socket->remoteIp &&
            packet.Field(32) == static_cast<uint32_t>(socket->servicePort)) {
            socket->remotePort = port;
            socket->lastHeardTick = platform::TickCount();
        }
        break;
    default:
        break;
    }
}

QUSocket *QStreamSockets::MatchingIncoming(const TStreamPacket &packet, uint32_t ip, int32_t port)
{
    for (auto &entry : sockets) {
        QUSocket &socket = *entry.second;
        if (socket.incoming && socket.state != STREAM_CLOSED && socket.remoteIp == ip &&
            socket.remotePort == port && socket.remoteConnectionId == packet.connectionId &&
            socket.servicePort == static_cast<int32_t>(packet.Field(48)) &&
            SameIdentity(socket.remoteIdentity, packet.fields + 4))
            return &socket;
    }
    return nullptr;
}

int32_t QStreamSockets::HalfOpenFrom(uint32_t ip) const
{
    int32_t count = 0;
    for (const auto &entry : sockets) {
        if (entry.second->state == STREAM_HALF_OPEN && entry.second->remoteIp == ip)
            ++count;
    }
    return count;
}

void QStreamSockets::OnConnect(const TStreamPacket &packet, uint32_t ip, int32_t port)
{
    wire.DropPunches(ip, port);
    const uint32_t attempt = packet.Field(60);
    if (QUSocket *known = MatchingIncoming(packet, ip, port)) {
        if (attempt == known->attempt) {
            if (known->state == STREAM_HALF_OPEN) {
                known->connectSeen = true;
            } else if (known->state == STREAM_ESTABLISHED && SequenceAfter(packet.sequence, known->lastControlSequence)) {
                known->lastControlSequence = packet.sequence;
                SendAccept(*known);
            }
            return;
        }
        if (!IsNewerAttempt(attempt, known->attempt))
            return;
        if (known->pending)
            Remove(known->handle);
        else
            MarkClosed(*known, platform::WSAECONNRESET);
    }
    if (!AcceptIncoming(packet, ip, port) && HalfOpenFrom(ip) < kHalfOpenPerSource)
        SendRefuse(packet, ip, port);
}

bool QStreamSockets::AcceptIncoming(const TStreamPacket &packet, uint32_t ip, int32_t port)
{
    const auto servicePort = static_cast<int32_t>(packet.Field(48));
    bool listened = false;
    int32_t waiting = 0;
    for (const auto &entry : sockets) {
        const QUSocket &socket = *entry.second;
        if (socket.state == STREAM_LISTENING && socket.servicePort == servicePort)
            listened = true;
        if (socket.pending)
            ++waiting;
    }
    if (!listened || waiting >= backlog)
        return false;
    // A flood of spoofed connects from one address must not fill the
    // backlog for everyone; the few it gets cost only their two accepts.
    if (HalfOpenFrom(ip) >= kHalfOpenPerSource)
        return true;
    QUSocket &socket = *Find(Socket());
    socket.incoming = true;
    socket.pending = true;
    socket.remoteIp = ip;
    socket.remotePort = port;
    socket.remoteConnectionId = packet.connectionId;
    socket.lastControlSequence = packet.sequence;
    socket.heardControl = true;
    socket.attempt = packet.Field(60);
    socket.requestedPort = packet.Field(32);
    socket.servicePort = servicePort;
    std::memcpy(socket.remoteIdentity, packet.fields + 4, kStreamIdentityBytes);
    socket.state = STREAM_HALF_OPEN;
    socket.lastHeardTick = platform::TickCount();
    SendAccept(socket);
    SendAccept(socket);
    return true;
}

void QStreamSockets::Establish(QUSocket &socket)
{
    const uint32_t now = platform::TickCount();
    socket.state = STREAM_ESTABLISHED;
    socket.connected = true;
    socket.SizeWindows();
    socket.lastHeardTick = now;
    socket.lastAckTick = now;
    socket.statisticsStartTick = now;
    wire.Wake(socket.handle);
}

void QStreamSockets::OnAccept(const TStreamPacket &packet, uint32_t ip, int32_t port)
{
    QUSocket *socket = ByConnectionId(packet.Field(60));
    if (socket == nullptr || socket->incoming ||
        (socket->state != STREAM_CONNECTING && socket->state != STREAM_ESTABLISHED))
        return;
    if (socket->servicePort != static_cast<int32_t>(packet.Field(48)) || socket->remoteIp != ip ||
        socket->remotePort != port)
        return;
    if (socket->heardControl && !SequenceAfter(packet.sequence, socket->lastControlSequence))
        return;
    if (socket->remoteConnectionId != 0 && socket->remoteConnectionId != packet.connectionId)
        return;
    // Our own attempt echoed exactly: ours is never 0, so 0 matches nothing.
    if (!SameIdentity(packet.fields + 4, identity) || packet.Field(56) != socket->attempt)
        return;
    socket->remotePort = port;
    socket->remoteConnectionId = packet.connectionId;
    socket->lastControlSequence = packet.sequence;
    socket->heardControl = true;
    if (socket->state != STREAM_ESTABLISHED)
        Establish(*socket);
    socket->lastHeardTick = platform::TickCount();
    SendAcceptAck(*socket, packet);
    SendAcceptAck(*socket, packet);
}

void QStreamSockets::OnAcceptAck(QUSocket &socket, const TStreamPacket &packet, uint32_t ip, int32_t port)
{
    if (socket.state != STREAM_HALF_OPEN || !socket.incoming || socket.remoteIp != ip ||
        packet.Field(32) != socket.attempt)
        return;
    socket.remotePort = port;
    Establish(socket);
}

void QStreamSockets::OnRefuse(QUSocket &socket, const TStreamPacket &packet, uint32_t ip, int32_t port)
{
    if (socket.state != STREAM_CONNECTING || socket.remoteIp != ip || socket.remotePort != port ||
        static_cast<int32_t>(packet.Field(48)) != socket.servicePort || packet.Field(60) != socket.attempt)
        return;
    MarkClosed(socket, platform::WSAECONNREFUSED);
}

void QStreamSockets::OnClose(QUSocket &socket, const TStreamPacket &packet, uint32_t ip)
{
    const uint32_t sender = packet.Field(36);
    if (ip != socket.remoteIp || static_cast<int32_t>(packet.Field(32)) != socket.servicePort ||
        packet.Field(40) != socket.attempt || (sender != 0 && sender != socket.remoteConnectionId))
        return;
    if (socket.pending) {
        Remove(socket.handle);
        return;
    }
    MarkClosed(socket, platform::WSAECONNRESET);
}

void QStreamSockets::Introduced(const uint8_t *tag, uint32_t ip, int32_t port, const uint8_t *newTag)
{
    for (auto &entry : sockets) {
        QUSocket &socket = *entry.second;
        if (socket.state != STREAM_INTRODUCING || std::memcmp(socket.remoteIdentity, tag, kTagBytes) != 0)
            continue;
        if (newTag != nullptr)
            std::memcpy(socket.remoteIdentity, newTag, kTagBytes);
        socket.remoteIp = ip;
        socket.remotePort = port;
        socket.requestId = -1;
        socket.state = STREAM_CONNECTING;
        SendConnect(socket);
    }
}

void QStreamSockets::IntroductionUnanswered(int32_t requestId)
{
    for (auto &entry : sockets) {
        QUSocket &socket = *entry.second;
        if (socket.state == STREAM_INTRODUCING && socket.requestId == requestId)
            MarkClosed(socket, platform::WSAETIMEDOUT);
    }
}

void QStreamSockets::Punched(uint32_t ip, int32_t port, int32_t punchPort, const uint8_t *senderIdentity)
{
    for (auto &entry : sockets) {
        QUSocket &socket = *entry.second;
        if ((socket.state != STREAM_INTRODUCING && socket.state != STREAM_CONNECTING) || socket.remoteIp != ip)
            continue;
        uint8_t addressForm[kTagBytes] = {0, 0};
        std::memcpy(addressForm + 2, &ip, 4);
        addressForm[6] = static_cast<uint8_t>(punchPort >> 8);
        addressForm[7] = static_cast<uint8_t>(punchPort);
        if (std::memcmp(socket.remoteIdentity, addressForm, kTagBytes) == 0)
            std::memcpy(socket.remoteIdentity, senderIdentity, kTagBytes);
        if (std::memcmp(socket.remoteIdentity, senderIdentity, kTagBytes) == 0) {
            socket.remotePort = port;
            socket.state = STREAM_CONNECTING;
            socket.requestId = -1;
            SendConnect(socket);
        }
    }
}

void QStreamSockets::ConnectionTimers()
{
    const uint32_t now = platform::TickCount();
    std::vector<int32_t> expired;
    for (auto &entry : sockets) {
        QUSocket &socket = *entry.second;
        const uint32_t silent = now - socket.lastHeardTick;
        if (socket.closing && socket.state == STREAM_CLOSED) {
            expired.push_back(socket.handle); // it failed before its data was through
            continue;
        }
        switch (socket.state) {
        case STREAM_INTRODUCING:
        case STREAM_CONNECTING:
            if (silent > timeoutMs) {
                MarkClosed(socket, platform::WSAETIMEDOUT);
            } else if (socket.state == STREAM_CONNECTING) {
                SendConnect(socket);
            } else if (now - socket.lastIntroductionTick > kIntroductionRepeatMs) {
                socket.lastIntroductionTick = now;
                socket.requestId = wire.QueueIntroduction(socket.remoteIp, socket.remoteIdentity);
            }
            break;
        case STREAM_HALF_OPEN:
            if (silent > timeoutMs) {
                expired.push_back(socket.handle);
            } else if (socket.connectSeen) {
                socket.connectSeen = false;
                SendAccept(socket);
            }
            break;
        case STREAM_ESTABLISHED:
            if (silent > timeoutMs) {
                MarkClosed(socket, platform::WSAETIMEDOUT);
                if (socket.pending)
                    expired.push_back(socket.handle);
            } else if (silent > timeoutMs / 2) {
                SendKeepAlive(socket);
            }
            break;
        default:
            break;
        }
    }
    for (int32_t handle : expired)
        Remove(handle);
}
