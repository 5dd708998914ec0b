#include "tools/qlrendezvous/rendezvous_service.h"

#include <array>
#include <cstring>
#include <memory>

#include "platform/datagram_batch.h"
#include "platform/tick.h"
#include "platform/winsock_codes.h"

namespace {
constexpr int kBatch = 256;
// One byte more than the longest datagram taken: anything longer arrives cut
// to this length, which no parser accepts.
constexpr size_t kReceiveBytes = kIntroductionMaxBytes + 1;
constexpr int kStopCheckMs = 200;
// Bursts of registrations must not overflow the socket between two reads.
constexpr int kSocketBufferBytes = 8 << 20;

// Seconds since start from the wrapping 32-bit tick: the silence rule needs
// a clock that never goes back.
class TSecondsClock {
public:
    uint32_t Now()
    {
        const uint32_t tick = platform::TickCount();
        elapsedMs += tick - lastTick;
        lastTick = tick;
        return static_cast<uint32_t>(elapsedMs / 1000);
    }

private:
    uint32_t lastTick = platform::TickCount();
    uint64_t elapsedMs = 0;
};

// Collects the answers to one read batch and sends them in one call.
class TBatchSender : public IRendezvousSender {
public:
    TBatchSender(int fd, uint64_t &dropped) : fd(fd), dropped(dropped) {}

    void Send(TRendezvousEndpoint to, const uint8_t *bytes, size_t length) override
    {
        if (length > kIntroductionMaxBytes)
            return;
        if (count == kBatch)
            Flush();
        std::memcpy(buffers[count].data(), bytes, length);
        platform::DatagramSlot &slot = slots[count];
        slot.data = buffers[count].data();
        slot.length = length;
        slot.peer = {};
        slot.peer.ip = to.ipv4;
        slot.peer.port = to.port;
        ++count;
    }

    // What the socket does not take is dropped, as a datagram lost on the
    // way would be: engines ask again.
    void Flush()
    {
        int sent = 0;
        while (sent < count) {
            const int went = platform::OsSendDatagrams(fd, slots.data() + sent, count - sent);
            if (went > 0) {
                sent += went;
            } else if (went < 0 && platform::LastSocketError() != platform::WSAEWOULDBLOCK) {
                // One that cannot go at all must not hold up the rest.
                ++dropped;
                ++sent;
            } else {
                break;
            }
        }
        dropped += static_cast<uint64_t>(count - sent);
        count = 0;
    }

private:
    int fd;
    uint64_t &dropped;
    int count = 0;
    std::array<platform::DatagramSlot, kBatch> slots{};
    std::array<std::array<uint8_t, kIntroductionMaxBytes>, kBatch> buffers{};
};

struct TReceiveBatch {
    std::array<platform::DatagramSlot, kBatch> slots{};
    std::array<std::array<uint8_t, kReceiveBytes>, kBatch> buffers{};

    TReceiveBatch()
    {
        for (int i = 0; i < kBatch; ++i) {
            slots[i].data = buffers[i].data();
            slots[i].capacity = kReceiveBytes;
        }
    }
};
} // namespace

TRendezvousService::TRendezvousService(const TRendezvousLimits &limits) : server(limits) {}

bool TRendezvousService::Open(TRendezvousEndpoint listen)
{
    if (!socket.Open(listen.port, listen.ipv4))
        return false;
    platform::OsSetReceiveBuffer(socket.Handle(), kSocketBufferBytes);
    platform::OsSetSendBuffer(socket.Handle(), kSocketBufferBytes);
    return true;
}

void TRendezvousService::Run(const std::function<bool()> &stop)
{
    TSecondsClock clock;
    auto received = std::make_unique<TReceiveBatch>();
    auto sender = std::make_unique<TBatchSender>(socket.Handle(), dropped);
    while (!stop()) {
        if (platform::OsWait(socket.Handle(), platform::WaitFor::Read, kStopCheckMs) <= 0)
            continue;
        // Drain what waits, but look at stop now and then under a flood.
        for (int round = 0; round < 64; ++round) {
            const int count = platform::OsRecvDatagrams(socket.Handle(), received->slots.data(), kBatch);
            if (count <= 0)
                break;
            const uint32_t now = clock.Now();
            for (int i = 0; i < count; ++i) {
                const platform::DatagramSlot &slot = received->slots[i];
                server.Handle(slot.data, slot.length, {slot.peer.ip, slot.peer.port}, now, *sender);
            }
            sender->Flush();
            if (count < kBatch)
                break;
        }
    }
}
