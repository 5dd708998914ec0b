#pragma once
#include <cstdint>

#include "engine/net/socket_api.h"

// The engine's reliable stream transport over UDP, as QSocket and the
// listening service see it: the socket calls, plus what the listening
// service tells the UDP server. The UDP server registers itself while it
// runs; without it, every socket that asks for the transport fails cleanly
// with 10051 (network unreachable).
class QStreamTransport : public QSocketApi {
public:
    // The address and port the listening service published.
    virtual void SetLocalAddress(uint32_t address, int32_t port) = 0;
    // Close every stream socket and forget all transport state.
    virtual void Reset() = 0;
};

// The registrant keeps the transport alive until it unregisters (nullptr) and
// every socket opened over it is closed.
void SetStreamTransport(QStreamTransport *transport);
QStreamTransport *StreamTransport();
