// Incoming connections: the engine-wide accept, the pending list that every
// task looks through, and the hand-over to the task a handshake names.
#include <algorithm>
#include <cstring>

#include "engine/base/engine_clock.h"
#include "engine/base/engine_locks.h"
#include "engine/core/engine_state.h"
#include "engine/core/incoming_handshake.h"
#include "engine/core/swarm_registry.h"
#include "engine/core/work_with_peers.h"

namespace {
constexpr int kAcceptsPerDispatch = 11;
constexpr int32_t kReadWhileBelow = 1092;
constexpr int32_t kReadBytes = 1024;
constexpr int64_t kPendingAge = 3;
constexpr int64_t kPendingAgeWithHandshake = 5;
constexpr int64_t kCrowdedAge = 1;
constexpr size_t kCrowded = 32;
constexpr int32_t kPeerIdOffset = 48;

int64_t AgeOf(const QSocket &socket)
{
    return EngineTime() - static_cast<int64_t>(socket.ConnectTime());
}

bool SameNetwork24(uint32_t a, uint32_t b)
{
    return std::memcmp(&a, &b, 3) == 0;
}
} // namespace

void TWorkWithPeers::DispatchIncoming()
{
    QAutoLock hold(RegistryLock());
    QListeningService &service = ListeningService();
    auto &pending = service.Pending();
    for (int i = 0; i < kAcceptsPerDispatch; ++i) {
        std::unique_ptr<QSocket> accepted;
        bool overTcp = false;
        if (service.TcpListener().HasHandle()) {
            accepted = service.TcpListener().Accept();
            overTcp = accepted != nullptr;
        }
        if (!accepted && service.UdpListener().HasHandle())
            accepted = service.UdpListener().Accept();
        if (!accepted)
            break;
        if (overTcp && !outsideReachable.load() && !SameNetwork24(accepted->RemoteAddress(), accepted->LocalAddress())) {
            outsideReachable = true;
            engineIdle = true;
        }
        pending.push_back(std::move(accepted));
    }

    for (size_t i = 0; i < pending.size();) {
        QSocket &socket = *pending[i];
        bool keep = true;
        if (socket.ReceiveLength() < kReadWhileBelow && socket.Receive(kReadBytes) < 0) {
            keep = false;
        } else if (AcceptIncoming(socket)) {
            std::unique_ptr<QSocket> taken = std::move(pending[i]);
            pending.erase(pending.begin() + static_cast<std::ptrdiff_t>(i));
            TakeIncoming(taken);
            continue;
        } else {
            const auto *data = socket.ReceiveBuffer().Data();
            int32_t length = socket.ReceiveLength();
            const uint8_t *hash = HandshakeInfoHash(data, length);
            if (hash == nullptr || SwarmKnows(hash)) {
                int64_t limit = length > kHandshakeBytes - 1 ? kPendingAgeWithHandshake : kPendingAge;
                keep = AgeOf(socket) < limit;
            } else {
                keep = false;
            }
        }
        if (keep)
            ++i;
        else
            pending.erase(pending.begin() + static_cast<std::ptrdiff_t>(i));
    }

    if (pending.size() > kCrowded) {
        std::erase_if(pending, [](const std::unique_ptr<QSocket> &s) {
            int64_t age = AgeOf(*s);
            return age > kPendingAge || (age > kCrowdedAge && s->ReceiveLength() < kHandshakeBytes);
        });
    }
    service.Refresh(listenerStatus);
}

// Takes an accepted connection; one the pool does not keep is closed here.
bool TWorkWithPeers::TakeIncoming(std::unique_ptr<QSocket> &socket)
{
    if (OfferIncomingPeer(socket))
        return true;
    if (socket)
        socket->Close();
    socket.reset();
    return false;
}

bool TWorkWithPeers::AcceptIncoming(QSocket &socket)
{
    int32_t disguise = DisguiseLength(socket.ReceiveBuffer().Data(), socket.ReceiveLength());
    if (disguise < 0)
        return false;
    if (disguise > 0) {
        socket.ConsumeReceived(disguise, true);
        socket.SetDisguised();
    }
    const uint8_t *ours = InfoHash();
    const uint8_t *named = HandshakeInfoHash(socket.ReceiveBuffer().Data(), socket.ReceiveLength());
    return ours != nullptr && named != nullptr && std::memcmp(ours, named, 20) == 0;
}

bool TWorkWithPeers::OfferIncomingPeer(std::unique_ptr<QSocket> &socket)
{
    if (!socket)
        return false;
    int32_t budget = settings.connectionBudget;
    auto knownPeers = std::count_if(connections.begin(), connections.end(), [](TPeerObject *p) {
        return p->IsConnected() && p->RemotePeerId() != nullptr;
    });
    if (static_cast<int32_t>(connections.size()) >= budget + 4 && knownPeers >= budget)
        return false;
    if (socket->ReceiveLength() >= kHandshakeBytes) {
        // The stream transport is used only while this task uses it.
        if (socket->IsOverUdp() && !WantsUdp())
            return false;
        const uint8_t *remoteId = socket->ReceiveBuffer().Data() + kPeerIdOffset;
        const uint8_t *own = OwnPeerId();
        if (own != nullptr && std::memcmp(own, remoteId, 20) == 0)
            return false;
        for (TPeerObject *peer : connections) {
            const uint8_t *id = peer->RemotePeerId();
            if (peer->IsConnected() && id != nullptr && std::memcmp(id, remoteId, 20) == 0 &&
                peer->SourceAddress() == socket->RemoteAddress())
                return false;
        }
    }
    TRef<TPeerObject> peer = CreatePeer(PEER_KIND_BT);
    if (peer == nullptr)
        return false;
    if (!peer->AttachSocket(std::move(socket)) || !peer->Greet()) {
        peer->Reset();
        closing.push_back(std::move(peer));
        ReleaseClosing(false);
        return true;
    }
    connections.push_back(std::move(peer));
    return true;
}
