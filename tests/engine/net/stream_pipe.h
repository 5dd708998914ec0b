#pragma once
// Two stream-socket sets joined by an in-process pipe that can lose,
// reorder and duplicate datagrams (seeded), on an injected tick: a whole
// transfer with seconds of re-send waits runs in milliseconds.
#include <cstring>
#include <deque>
#include <random>
#include <vector>

#include "engine/net/stream_sockets.h"
#include "tests/engine/net/moved_tick.h"

struct TPipeDatagram {
    std::vector<uint8_t> bytes;
    uint32_t ip;
    int32_t port;
};

struct TPipeFaults {
    int lossPercent = 0;
    int duplicatePercent = 0;
    int reorderPercent = 0;
};

class PipeEnd : public IStreamWire {
public:
    PipeEnd(uint32_t ipIn, int32_t portIn, uint8_t idByte) : ip(ipIn), port(portIn), sockets(*this)
    {
        uint8_t id[8] = {idByte, 2, 3, 4, 5, 6, 7, 8};
        sockets.SetIdentity(id);
    }
    bool SendDatagram(const uint8_t *bytes, size_t length, uint32_t, int32_t) override
    {
        outbox.push_back({std::vector<uint8_t>(bytes, bytes + length), ip, port});
        ++datagramsSent;
        return true;
    }
    int32_t QueueIntroduction(uint32_t, const uint8_t *tag) override
    {
        introductions.emplace_back(tag, tag + 8);
        return static_cast<int32_t>(introductions.size());
    }
    void DropPunches(uint32_t, int32_t) override { ++punchDrops; }
    void Wake(int32_t) override {}

    uint32_t ip;
    int32_t port;
    QStreamSockets sockets;
    std::deque<TPipeDatagram> outbox;
    std::vector<std::vector<uint8_t>> introductions;
    int punchDrops = 0;
    size_t datagramsSent = 0;
};

class StreamPipe {
public:
    explicit StreamPipe(uint32_t startTick = 1000000, unsigned seed = 1)
        : a(0x0100000A, 5000, 0x11), b(0x0200000A, 6000, 0x22), random(seed), tick(startTick)
    {
    }

    void Advance(uint32_t ms) { tick.Advance(ms); }

    // Delivers what each side sent (through the faults), then the acks a
    // batch makes due; returns the datagrams delivered.
    size_t Deliver()
    {
        size_t delivered = Carry(a, b) + Carry(b, a);
        a.sockets.SendDueAcknowledgements();
        b.sockets.SendDueAcknowledgements();
        return delivered;
    }

    // One 20 ms step of both servers' timers.
    void TimerStep()
    {
        Advance(20);
        steps += 1;
        for (PipeEnd *end : {&a, &b}) {
            if (steps % 2 == 0)
                end->sockets.RetransmissionPass();
            else
                end->sockets.AcknowledgementPass();
            if (steps % 150 == 0)
                end->sockets.ConnectionTimers();
        }
    }

    // A socket on a connecting to b's identity at servicePort, introduced
    // at once: its first connect is in a's outbox.
    int32_t StartConnect(int32_t servicePort)
    {
        int32_t client = a.sockets.Socket();
        TSockAddr to;
        to.ip = b.ip;
        to.port = static_cast<uint16_t>(servicePort);
        std::memcpy(to.padding, b.sockets.Identity(), 8);
        a.sockets.Connect(client, to);
        a.sockets.Introduced(b.sockets.Identity(), b.ip, b.port);
        return client;
    }

    // Client on a connects to a listener on b (port servicePort): the two
    // handles once established, or {-1,-1}.
    std::pair<int32_t, int32_t> Connect(int32_t servicePort = 7000)
    {
        int32_t listener = b.sockets.Socket();
        TSockAddr bind;
        bind.port = static_cast<uint16_t>(servicePort);
        b.sockets.Bind(listener, bind);
        b.sockets.Listen(listener, 32);
        int32_t client = StartConnect(servicePort);
        for (int round = 0; round < 2000; ++round) {
            Deliver();
            TSockAddr peer;
            int32_t accepted = b.sockets.Accept(listener, &peer);
            if (accepted > 0 && a.sockets.Ready(client, TWaitFor::Write) == 1)
                return {client, accepted};
            TimerStep();
        }
        return {-1, -1};
    }

    PipeEnd a;
    PipeEnd b;
    TPipeFaults faults;
    std::mt19937 random;
    TMovedTick tick;
    uint64_t steps = 0;

private:
    bool Chance(int percent) { return percent > 0 && static_cast<int>(random() % 100) < percent; }

    size_t Carry(PipeEnd &from, PipeEnd &to)
    {
        std::deque<TPipeDatagram> batch;
        batch.swap(from.outbox);
        for (size_t i = 0; i + 1 < batch.size(); ++i) {
            if (Chance(faults.reorderPercent))
                std::swap(batch[i], batch[i + 1]);
        }
        size_t delivered = 0;
        for (const TPipeDatagram &datagram : batch) {
            if (Chance(faults.lossPercent))
                continue;
            int copies = Chance(faults.duplicatePercent) ? 2 : 1;
            for (int i = 0; i < copies; ++i)
                to.sockets.HandleDatagram(datagram.bytes.data(), datagram.bytes.size(), datagram.ip, datagram.port);
            ++delivered;
        }
        return delivered;
    }
};
