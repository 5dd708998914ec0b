// The task's part in LAN discovery: its announcement, the datagrams the
// group carries, and the engine-wide list of announcements for other tasks.
#include <cstring>
#include <functional>

#include "engine/base/engine_clock.h"
#include "engine/base/engine_locks.h"
#include "engine/core/task_registry.h"
#include "engine/core/work_with_peers.h"
#include "engine/net/lan_discovery.h"
#include "engine/net/listening_service.h"

namespace {

// The task as the exchange sees it: its torrent, its peer id, and the pool
// that takes the peers heard.
class TLanTaskView : public ILanTask {
public:
    TLanTaskView(const TLanHash &infoHash, const TLanHash &peerId,
                 std::function<void(uint32_t, uint16_t, const TLanHash &)> add)
        : infoHash(infoHash), peerId(peerId), add(std::move(add))
    {
    }
    const TLanHash &LanInfoHash() override { return infoHash; }
    const TLanHash &LanPeerId() override { return peerId; }
    void AddLanPeer(uint32_t address, uint16_t port, const TLanHash &id) override { add(address, port, id); }

private:
    TLanHash infoHash;
    TLanHash peerId;
    std::function<void(uint32_t, uint16_t, const TLanHash &)> add;
};

TLanHash HashOf(const uint8_t *bytes)
{
    TLanHash hash;
    std::memcpy(hash.data(), bytes, hash.size());
    return hash;
}

} // namespace

void TWorkWithPeers::LanExchange()
{
    const uint8_t *infoHash = InfoHash();
    const uint8_t *peerId = OwnPeerId();
    if (infoHash == nullptr || peerId == nullptr)
        return;
    QAutoLock hold(RegistryLock());
    TLanDiscovery *discovery = EngineLanDiscovery();
    if (discovery == nullptr || !discovery->IsJoined())
        return;
    TLanList &list = EngineLanList();
    if (!lanOwnPeerId) {
        lanOwnPeerId = HashOf(peerId);
        list.AddOwnPeerId(*lanOwnPeerId);
    }
    TLanTaskView view(HashOf(infoHash), HashOf(peerId), [this](uint32_t address, uint16_t port, const TLanHash &id) {
        if (TPeerId *candidate = AddBtAddress(address, port, PEER_KIND_BT, false, ORIGIN_LAN))
            std::copy(id.begin(), id.end(), candidate->peerId.begin());
    });
    const TLanSelf self{ListeningService().PublishedAddress(),
                        static_cast<uint16_t>(ListeningService().PublishedPort())};
    if (!TLanExchange::Run(*discovery, list, view, self, lanAnnounced, EngineSeconds(), RegistryTasks().size()))
        discovery->Leave();
}

void TWorkWithPeers::ResetLanDiscovery()
{
    lanAnnounced = false;
    QAutoLock hold(RegistryLock());
    TLanList &list = EngineLanList();
    list.Clear();
    if (lanOwnPeerId)
        list.RemoveOwnPeerId(*lanOwnPeerId);
    lanOwnPeerId.reset();
}
