// Data transfer of the stream sockets: the send window with its
// re-sends, the receive window, and acknowledgements with a slot bitmap.
#include <algorithm>
#include <cstring>

#include "engine/net/stream_sockets.h"
#include "platform/tick.h"
#include "platform/winsock_codes.h"

namespace {
constexpr int kBitmapSlots = 12;
constexpr int kBitmapOffset = 8; // header offset 40 within the fields
constexpr uint32_t kAckPeriodMs = 1200;
constexpr uint32_t kIdleAckPeriodMs = 11999;
constexpr uint32_t kResendBaseMs = 1600;
constexpr uint32_t kResendStepMs = 800;
constexpr uint32_t kStatisticsPeriodMs = 120000;
constexpr int32_t kFewResendsAboveLoss = 19;
} // namespace

void QStreamSockets::FillSendWindow(QUSocket &socket)
{
    if (socket.state != STREAM_ESTABLISHED)
        return;
    const int32_t limit = socket.SendLimit();
    uint8_t payload[kStreamMaxPayload];
    // New data always takes the sequence after the last one sent: a slot the
    // bitmap freed in the middle is only reused once the base passes it.
    while (socket.SendCount() < socket.window && socket.BacklogBytes() > 0) {
        const uint32_t sequence = socket.nextSendSequence++;
        const auto size = static_cast<int32_t>(socket.TakeBacklog(payload, static_cast<size_t>(socket.PayloadSize())));
        TStreamPacket packet = Header(socket, STREAM_DATA, false);
        packet.SetField(36, sequence);
        TStreamSendSlot &slot = socket.SendSlot(sequence);
        slot = TStreamSendSlot();
        slot.datagram = EncodeStreamPacket(packet, payload, size);
        slot.payloadLength = size;
        slot.used = true;
    }
    // Packets within the send limit go at once, also those that waited
    // beyond it while the base was further back.
    for (uint32_t sequence = socket.sendBase;
         sequence != socket.nextSendSequence && static_cast<int32_t>(sequence - socket.sendBase) < limit; ++sequence) {
        const TStreamSendSlot &slot = socket.SendSlot(sequence);
        if (slot.used && !slot.sent && !slot.acknowledged)
            SendSlot(socket, sequence, false);
    }
}

void QStreamSockets::SendSlot(QUSocket &socket, uint32_t sequence, bool resend)
{
    TStreamSendSlot &slot = socket.SendSlot(sequence);
    Transmit(socket, slot.datagram);
    slot.sent = true;
    slot.sentTick = platform::TickCount();
    ++socket.packetsSent;
    if (resend) {
        ++socket.retransmissions;
        ++slot.retries;
    }
}

void QStreamSockets::FreeSent(QUSocket &socket, uint32_t sequence)
{
    TStreamSendSlot &slot = socket.SendSlot(sequence);
    if (!slot.used || slot.acknowledged)
        return;
    slot.acknowledged = true;
    socket.bytesAcknowledged += static_cast<uint64_t>(slot.payloadLength);
    slot.datagram.clear();
}

void QStreamSockets::DropAcknowledged(QUSocket &socket)
{
    while (socket.sendBase != socket.nextSendSequence && socket.SendSlot(socket.sendBase).acknowledged) {
        socket.SendSlot(socket.sendBase) = TStreamSendSlot();
        ++socket.sendBase;
    }
}

void QStreamSockets::MoveInOrder(QUSocket &socket)
{
    while (socket.readyBytes < kBacklogBytes) {
        TStreamReceiveSlot &slot = socket.ReceiveSlot(socket.nextExpected);
        if (!slot.filled)
            break;
        socket.readyBytes += slot.payload.size();
        socket.ready.push_back(std::move(slot.payload));
        slot = TStreamReceiveSlot();
        ++socket.nextExpected;
    }
}

// Traffic on a half-open socket that names our connection id proves the
// requester got our accept, whose acknowledgement was lost.
static bool HeardFromRequester(QUSocket &socket, uint32_t ip, int32_t port)
{
    return socket.state == STREAM_HALF_OPEN && socket.incoming && socket.remoteIp == ip && socket.remotePort == port;
}

void QStreamSockets::OnData(QUSocket &socket, const TStreamPacket &packet, uint32_t ip, int32_t port)
{
    if (HeardFromRequester(socket, ip, port))
        Establish(socket);
    if (socket.state != STREAM_ESTABLISHED || ip != socket.remoteIp || port != socket.remotePort)
        return;
    const uint32_t sequence = packet.Field(36);
    socket.lastHeardTick = platform::TickCount();
    // Signed: an old duplicate is only acknowledged again, never stored.
    int32_t offset = socket.ReceiveOffset(sequence);
    if (offset >= socket.window) {
        MoveInOrder(socket);
        offset = socket.ReceiveOffset(sequence);
    }
    if (offset >= socket.window)
        return;
    socket.ackDue = true;
    if (offset < 0)
        return;
    TStreamReceiveSlot &slot = socket.ReceiveSlot(sequence);
    if (slot.filled)
        return;
    slot.payload.assign(packet.payload, packet.payload + packet.payloadLength);
    slot.filled = true;
    socket.bytesReceived += static_cast<uint64_t>(packet.payloadLength);
    if (offset == 0) {
        MoveInOrder(socket);
        wire.Wake(socket.handle);
    }
}

void QStreamSockets::OnAck(QUSocket &socket, const TStreamPacket &packet, uint32_t ip)
{
    if (HeardFromRequester(socket, ip, socket.remotePort))
        Establish(socket);
    if (socket.state != STREAM_ESTABLISHED || ip != socket.remoteIp)
        return;
    const uint32_t acknowledged = packet.Field(36);
    // Nothing beyond what we sent can have arrived.
    if (SequenceAfter(acknowledged, socket.nextSendSequence))
        return;
    socket.lastHeardTick = platform::TickCount();
    const uint32_t remoteBase = packet.Field(32);
    if (SequenceAfter(remoteBase, socket.remoteSendBase))
        socket.remoteSendBase = remoteBase;
    for (uint32_t sequence = socket.sendBase; SequenceAfter(acknowledged, sequence); ++sequence)
        FreeSent(socket, sequence);
    const int slots = std::min(kBitmapSlots, socket.window);
    for (int i = 0; i < slots; ++i) {
        const uint32_t sequence = acknowledged + static_cast<uint32_t>(i);
        if (packet.fields[kBitmapOffset + i] == 1 && SequenceAfter(socket.nextSendSequence, sequence) &&
            !SequenceAfter(socket.sendBase, sequence))
            FreeSent(socket, sequence);
    }
    const int32_t before = socket.SendCount();
    DropAcknowledged(socket);
    if (socket.SendCount() != before) {
        FillSendWindow(socket);
        wire.Wake(socket.handle);
        FinishClosing(socket);
    }
}

void QStreamSockets::OnSingleAck(QUSocket &socket, const TStreamPacket &packet, uint32_t ip)
{
    if (socket.state != STREAM_ESTABLISHED || ip != socket.remoteIp)
        return;
    const uint32_t sequence = packet.Field(36);
    if (SequenceAfter(socket.sendBase, sequence) || !SequenceAfter(socket.nextSendSequence, sequence))
        return;
    if (socket.SendSlot(sequence).payloadLength != static_cast<int32_t>(packet.Field(32)))
        return;
    FreeSent(socket, sequence);
    DropAcknowledged(socket);
    FillSendWindow(socket);
    wire.Wake(socket.handle);
    FinishClosing(socket);
}

void QStreamSockets::SendAck(QUSocket &socket)
{
    TStreamPacket packet = Header(socket, STREAM_ACK, false);
    packet.SetField(32, socket.sendBase);
    packet.SetField(36, socket.nextExpected);
    int held = 0;
    const int slots = std::min(kBitmapSlots, socket.window);
    // The next expected packet stays in its slot only while Recv's queue is
    // full. Flagged, it would let the sender move its window past what this
    // side takes, and the packets beyond would wait out a re-send.
    for (int i = 1; i < slots; ++i) {
        if (socket.ReceiveSlot(socket.nextExpected + static_cast<uint32_t>(i)).filled) {
            packet.fields[kBitmapOffset + i] = 1;
            ++held;
        }
    }
    const auto datagram = EncodeStreamPacket(packet);
    Transmit(socket, datagram);
    if (held >= 2)
        Transmit(socket, datagram);
    socket.ackDue = false;
    socket.lastAckTick = platform::TickCount();
}

void QStreamSockets::SendDueAcknowledgements()
{
    for (auto &entry : sockets) {
        QUSocket &socket = *entry.second;
        if (socket.ackDue && socket.state == STREAM_ESTABLISHED)
            SendAck(socket);
    }
}

void QStreamSockets::AcknowledgementPass()
{
    const uint32_t now = platform::TickCount();
    for (auto &entry : sockets) {
        QUSocket &socket = *entry.second;
        if (socket.state != STREAM_ESTABLISHED || (!socket.ackDue && now - socket.lastAckTick < kAckPeriodMs))
            continue;
        bool held = false;
        for (const TStreamReceiveSlot &slot : socket.receiveSlots)
            held = held || slot.filled;
        MoveInOrder(socket);
        DropAcknowledged(socket);
        if (!socket.ackDue && !held && socket.remoteSendBase == socket.nextExpected &&
            now - socket.lastAckTick <= kIdleAckPeriodMs)
            continue;
        SendAck(socket);
    }
}

void QStreamSockets::Retransmit(QUSocket &socket)
{
    const uint32_t now = platform::TickCount();
    const int32_t loss = socket.LossRate();
    const int32_t slotsMost = socket.SendLimit() / 2 + 2;
    const int32_t resendsMost = loss > kFewResendsAboveLoss ? 2 : slotsMost;
    int32_t slotsSeen = 0;
    int32_t sentBefore = 0;
    int32_t resends = 0;
    for (uint32_t sequence = socket.sendBase; sequence != socket.nextSendSequence; ++sequence) {
        TStreamSendSlot &slot = socket.SendSlot(sequence);
        if (!slot.used || slot.acknowledged)
            continue;
        if (++slotsSeen >= slotsMost || (slot.sent && ++sentBefore >= resendsMost))
            break;
        if (!slot.sent) {
            SendSlot(socket, sequence, false);
            continue;
        }
        if (now - slot.sentTick <= kResendBaseMs + kResendStepMs * slot.retries)
            continue;
        if (slot.retries >= kMaxRetries) {
            MarkClosed(socket, platform::WSAETIMEDOUT);
            return;
        }
        SendSlot(socket, sequence, true);
        if (slot.retries > 1 || ++resends >= resendsMost)
            break;
    }
}

void QStreamSockets::RetransmissionPass()
{
    const uint32_t now = platform::TickCount();
    for (auto &entry : sockets) {
        QUSocket &socket = *entry.second;
        if (socket.state != STREAM_ESTABLISHED)
            continue;
        if (now - socket.statisticsStartTick > kStatisticsPeriodMs) {
            socket.statisticsStartTick = now;
            socket.packetsSent = 0;
            socket.retransmissions = 0;
        }
        if (socket.SendCount() > 0)
            Retransmit(socket);
    }
    AcknowledgementPass();
}
