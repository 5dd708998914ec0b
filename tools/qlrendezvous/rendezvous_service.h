#pragma once
// The rendezvous server on a UDP socket: reads datagrams in batches, hands
// each to the server logic with a monotonic seconds clock, and sends what it
// answers in batches too.
#include <cstdint>
#include <functional>

#include "engine/net/qudp_socket.h"
#include "tools/qlrendezvous/rendezvous_server.h"

class TRendezvousService {
public:
    explicit TRendezvousService(const TRendezvousLimits &limits = {});

    // Binds the socket; false when the address cannot be had (LastError
    // holds the system's reason as a Winsock number).
    bool Open(TRendezvousEndpoint listen);
    uint16_t BoundPort() const { return static_cast<uint16_t>(socket.BoundPort()); }
    uint32_t LastError() const { return socket.LastError(); }

    // Serves until stop answers true; it is asked at least every 200 ms.
    void Run(const std::function<bool()> &stop);

    // Answers the socket could not take (its buffer full).
    uint64_t DroppedAnswers() const { return dropped; }

private:
    TRendezvousServer server;
    QUdpSocket socket;
    uint64_t dropped = 0;
};
