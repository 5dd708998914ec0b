#pragma once
// The rendezvous server's logic, without a socket: each datagram in, with
// its source and the time, and the datagrams it answers out through a
// sender. Engines register (and learn their public address), keep their
// NAT mapping alive, and ask for other engines by identity or by address;
// the engine asked for is told to punch towards the one asking.
//
// Only exact forms are taken; everything else is dropped without an answer.
// Answers go only to the source of the datagram, and introductions only to
// registered sources, so a forged source earns no more bytes than it sent
// beyond a few notices a second.
#include <cstddef>
#include <cstdint>

#include "engine/net/rendezvous_packet.h"
#include "tools/qlrendezvous/rendezvous_table.h"

class IRendezvousSender {
public:
    virtual ~IRendezvousSender() = default;
    virtual void Send(TRendezvousEndpoint to, const uint8_t *bytes, size_t length) = 0;
};

struct TRendezvousLimits {
    size_t capacity = 100000;
    // Engines keep alive every 52 s and register every 300 s.
    uint32_t silenceSeconds = 660;
    // One full request's worth of targets each second.
    uint32_t noticesPerSecond = 12;
};

class TRendezvousServer {
public:
    explicit TRendezvousServer(const TRendezvousLimits &limits = {});

    // now: seconds of a monotonic clock.
    void Handle(const uint8_t *bytes, size_t length, TRendezvousEndpoint source, uint32_t now,
                IRendezvousSender &sender);

    size_t HostCount() const { return table.Size(); }

private:
    void Register(const TRegistration &registration, TRendezvousEndpoint source, uint32_t now,
                  IRendezvousSender &sender);
    void Introduce(const TIntroduction &request, TRendezvousHost &requester, uint32_t now, IRendezvousSender &sender);
    // Where requester reaches target: behind one public IPv4 the local
    // address, as NATs seldom hairpin.
    static TRendezvousEndpoint ReachableAt(const TRendezvousHost &from, const TRendezvousHost &target);
    void Notify(TRendezvousHost &requester, const TRendezvousHost &target, uint32_t now, IRendezvousSender &sender);

    TRendezvousLimits limits;
    TRendezvousTable table;
};
