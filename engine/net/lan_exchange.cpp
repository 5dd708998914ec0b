#include "engine/net/lan_exchange.h"

namespace {

TLanDatagram OwnDatagram(ILanTask &task, const TLanSelf &self, bool answer)
{
    TLanDatagram datagram;
    datagram.address = self.address;
    datagram.port = self.port;
    datagram.answer = answer;
    datagram.infoHash = task.LanInfoHash();
    datagram.peerId = task.LanPeerId();
    return datagram;
}

bool Send(ILanSocket &socket, const TLanDatagram &datagram)
{
    const auto bytes = EncodeLanDatagram(datagram);
    return socket.SendToGroup(bytes.data(), bytes.size());
}

// One pass's state: how many peers it may still add, and whether it answered.
struct TPass {
    size_t peersLeft = TLanExchange::kMaxNewPeers;
    bool answered = false;
};

} // namespace

bool TLanExchange::Run(ILanSocket &socket, TLanList &list, ILanTask &task, const TLanSelf &self, bool &announced,
                       uint32_t now, size_t taskCount)
{
    if (!announced) {
        const TLanDatagram announcement = OwnDatagram(task, self, false);
        if (!Send(socket, announcement) || !Send(socket, announcement))
            return false;
        announced = true;
        return true;
    }
    TPass pass;
    uint8_t buffer[kLanDatagramBytes + 1];
    for (int read = 0; read < kMaxReads; ++read) {
        size_t length = 0;
        uint32_t source = 0;
        const int got = socket.Receive(buffer, sizeof buffer, length, source);
        if (got < 0) {
            announced = false;
            return false;
        }
        if (got == 0)
            break;
        TLanDatagram datagram;
        if (!ParseLanDatagram(buffer, length, datagram))
            continue;
        // Our own datagrams loop back; a host with several addresses may
        // send from another one, which its peer ids still give away.
        if (source == self.address || datagram.address == self.address || list.IsOwnPeerId(datagram.peerId))
            continue;
        if (datagram.infoHash != task.LanInfoHash()) {
            list.Keep(datagram, source, now, &task);
            continue;
        }
        if (pass.peersLeft > 0) {
            --pass.peersLeft;
            // The peer is where the datagram came from: one datagram cannot
            // aim every engine on the LAN at a third host.
            task.AddLanPeer(source, datagram.port, datagram.peerId);
        } else {
            list.Keep(datagram, source, now, nullptr);
        }
        if (!datagram.answer && !pass.answered) {
            pass.answered = true;
            if (!Send(socket, OwnDatagram(task, self, true)))
                return false;
        }
    }
    for (const TLanEntry &entry : list.Visit(&task, task.LanInfoHash(), now, taskCount, pass.peersLeft))
        task.AddLanPeer(entry.source, entry.datagram.port, entry.datagram.peerId);
    return true;
}
