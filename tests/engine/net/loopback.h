#pragma once
// Helpers for socket tests: everything stays on 127.0.0.1.
#include <cstdint>
#include <random>

#include "engine/net/ipv4_address.h"
#include "engine/net/qsocket.h"

inline uint32_t Loopback()
{
    return HostToNetwork32(0x7F000001u);
}

// Opens listener on 127.0.0.1 at a free port and returns the port, 0 when no
// port could be found.
inline int32_t ListenOnLoopback(QSocket &listener)
{
    std::random_device seed;
    std::mt19937 pick(seed());
    std::uniform_int_distribution<int32_t> ports(20000, 60000);
    for (int attempt = 0; attempt < 200; ++attempt) {
        int32_t port = ports(pick);
        if (listener.Listen(port, Loopback()))
            return port;
    }
    return 0;
}

// A port nothing listens on (it did a moment ago).
inline int32_t ClosedLoopbackPort()
{
    QSocket probe;
    int32_t port = ListenOnLoopback(probe);
    probe.Close();
    return port;
}

// Waits up to five seconds for a connection and accepts it.
inline std::unique_ptr<QSocket> AcceptWithin(QSocket &listener)
{
    if (!listener.WaitReadable(5))
        return nullptr;
    return listener.Accept();
}
