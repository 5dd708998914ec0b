#include "engine/net/stream_transport.h"

#include <atomic>

namespace {
std::atomic<QStreamTransport *> registered{nullptr};
}

void SetStreamTransport(QStreamTransport *transport)
{
    registered = transport;
}

QStreamTransport *StreamTransport()
{
    return registered.load();
}
