#include "engine/net/stream_socket.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr uint64_t kPacketsBeforeLossIsKnown = 23;
constexpr int32_t kAssumedLoss = 50;
constexpr int32_t kFullPayload = 1320;
constexpr int32_t kHalfPayload = 660;
constexpr int32_t kHalfPayloadAboveLoss = 30;
constexpr uint32_t kAttemptWrapDistance = 16777215;
} // namespace

void QUSocket::SizeWindows()
{
    sendSlots.assign(static_cast<size_t>(window), TStreamSendSlot());
    receiveSlots.assign(static_cast<size_t>(window), TStreamReceiveSlot());
}

void QUSocket::FreeBuffers()
{
    // Sequences stay where they are, so late packets still compare right.
    sendSlots.clear();
    receiveSlots.clear();
    backlog.clear();
    backlog.shrink_to_fit();
    backlogStart = 0;
    sendBase = nextSendSequence;
}

void QUSocket::AppendBacklog(const uint8_t *data, size_t length)
{
    // Compacting only once half is consumed keeps each byte moved O(1) times.
    if (backlogStart > 0 && backlogStart >= backlog.size() / 2) {
        backlog.erase(backlog.begin(), backlog.begin() + static_cast<std::ptrdiff_t>(backlogStart));
        backlogStart = 0;
    }
    backlog.insert(backlog.end(), data, data + length);
}

size_t QUSocket::TakeBacklog(uint8_t *out, size_t most)
{
    const size_t count = std::min(most, BacklogBytes());
    std::memcpy(out, backlog.data() + backlogStart, count);
    backlogStart += count;
    if (backlogStart == backlog.size()) {
        backlog.clear();
        backlogStart = 0;
    }
    return count;
}

int32_t QUSocket::LossRate() const
{
    if (packetsSent <= kPacketsBeforeLossIsKnown)
        return kAssumedLoss;
    return static_cast<int32_t>(std::min<uint64_t>(retransmissions * 100 / packetsSent, 100));
}

int32_t QUSocket::SendLimit() const
{
    return std::max(1, std::min(window, (1260 - 12 * LossRate()) / 100));
}

int32_t QUSocket::PayloadSize() const
{
    return LossRate() > kHalfPayloadAboveLoss ? kHalfPayload : kFullPayload;
}

bool IsNewerAttempt(uint32_t candidate, uint32_t than)
{
    if (candidate > than)
        return candidate - than <= kAttemptWrapDistance;
    return than - candidate > kAttemptWrapDistance;
}
