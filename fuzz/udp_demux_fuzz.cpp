// Arbitrary bytes at the UDP server's socket: classified and, when they are
// a transport packet, handed to a set of stream sockets with a listener, as
// the server does. Nothing may read outside the datagram.
#include <cstdint>
#include <cstring>

#include "engine/net/stream_sockets.h"
#include "engine/net/udp_demux.h"

namespace {
class NullWire : public IStreamWire {
public:
    bool SendDatagram(const uint8_t *, size_t, uint32_t, int32_t) override { return true; }
    int32_t QueueIntroduction(uint32_t, const uint8_t *) override { return 1; }
    void DropPunches(uint32_t, int32_t) override {}
    void Wake(int32_t) override {}
};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const uint8_t identity[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    const bool fromRendezvous = size > 0 && (data[size - 1] & 1) != 0;
    if (ClassifyUdpDatagram(data, size, fromRendezvous, identity) != TUdpDatagramKind::Transport)
        return 0;
    static NullWire wire;
    static QStreamSockets *sockets = [] {
        auto *made = new QStreamSockets(wire);
        made->SetIdentity(identity);
        int32_t listener = made->Socket();
        TSockAddr bind;
        bind.port = 7000;
        made->Bind(listener, bind);
        made->Listen(listener, 32);
        return made;
    }();
    sockets->HandleDatagram(data, size, 0x0100007F, 4000);
    if (sockets->SocketCount() > 64)
        sockets->Reset();
    return 0;
}
