// What a task's BitTorrent connections ask of it beyond the shared roles.
#include <cstring>

#include "engine/core/work_thread.h"
#include "engine/storage/pieces.h"

const uint8_t *TWorkThread::Handshake()
{
    return handshake ? handshake->bytes.data() : nullptr;
}

int32_t TWorkThread::ReadBlock(int64_t block, int32_t length, uint8_t *buffer)
{
    if (pieces == nullptr || !HasPieces())
        return -1;
    // Only verified pieces are served.
    return pieces->ReadBlock(block, length, buffer, 0, false);
}

bool TWorkThread::PickPending(TPeerObject &peer, const std::vector<uint8_t> &remoteHave, int32_t most)
{
    return Scheduling().PickPending(peer, remoteHave, {}, most);
}

TPeerId *TWorkThread::AddressOfIncoming(uint32_t address, int32_t port)
{
    return AddBtAddress(address, port, PEER_KIND_BT, false, ORIGIN_BT_MINIMUM);
}

bool TWorkThread::DuplicatePeer(const TPeerObject &peer, const uint8_t *peerId)
{
    const TPeerId *own = peer.Address();
    for (TPeerObject *other : connections) {
        if (other == &peer || other->Kind() != PEER_KIND_BT || !other->IsConnected())
            continue;
        const uint8_t *id = other->RemotePeerId();
        if (id != nullptr && peerId != nullptr && std::memcmp(id, peerId, 20) == 0)
            return true;
        const TPeerId *address = other->Address();
        // Two connections to one listening address; accepted ones come from
        // ports of their own and are told apart by the peer id alone.
        if (own != nullptr && address != nullptr && !peer.GetCounters().attached &&
            !other->GetCounters().attached && address->address == own->address && address->port == own->port)
            return true;
    }
    return false;
}
