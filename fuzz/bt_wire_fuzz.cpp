// Feeds arbitrary bytes to an accepted BitTorrent connection over loopback:
// the disguise header, the handshake and every message after it. The peer
// must never read past what arrived, write past its maps or crash; bad
// input may only close the connection.
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "engine/net/bt_peer.h"
#include "engine/net/listen_settings.h"
#include "platform/tick.h"
#include "tests/engine/net/loopback.h"
#include "tests/engine/net/memory_peer_task.h"

namespace {
constexpr int32_t kPiece = 32768;
constexpr int64_t kSize = 8LL * kPiece + 5000; // 9 pieces, the last short
constexpr int kQuietRounds = 20;

QSocket &Listener(int32_t &port)
{
    static QSocket listener;
    static int32_t listening = ListenOnLoopback(listener);
    port = listening;
    return listener;
}

std::vector<uint8_t> OurHandshake()
{
    std::vector<uint8_t> bytes(68, 0);
    bytes[0] = 19;
    std::memcpy(bytes.data() + 1, "BitTorrent protocol", 19);
    std::memset(bytes.data() + 28, 0xAB, 20);
    std::memset(bytes.data() + 48, 0x11, 20);
    return bytes;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    SetListenEnabled(true);
    int32_t port = 0;
    QSocket &listener = Listener(port);
    if (port == 0)
        return 0;
    // The dialer never blocks: its reads only drain what the peer sends.
    QSocket dialer;
    if (!dialer.Connect(Loopback(), port, false))
        return 0;
    std::unique_ptr<QSocket> accepted = AcceptWithin(listener);
    if (!accepted || !dialer.WaitWritable(5) || !dialer.IsConnected())
        return 0;

    TMemoryPeerTask task(kSize, kPiece);
    task.handshake = OurHandshake();
    std::vector<uint8_t> content(static_cast<size_t>(kSize), 0x5A);
    task.MarkPresent(0, 3, content);
    // A disguised start is what the pool hands over once it stripped one.
    if (size > 0 && data[0] == 'G')
        accepted->SetDisguised();
    TBTPeer *peer = new TBTPeer(&task);
    if (peer->AttachSocket(std::move(accepted)) && peer->Greet()) {
        dialer.Send(data, static_cast<int32_t>(size > 1 << 20 ? 1 << 20 : size));
        int quiet = 0;
        for (int round = 0; round < 2000 && quiet < kQuietRounds; ++round) {
            dialer.Flush();
            dialer.Receive(1 << 16);
            dialer.ConsumeReceived(dialer.ReceiveLength());
            uint64_t before = peer->Socket() ? peer->Socket()->ReceivedBytes() : 0;
            if (!peer->DownloadTick() || !peer->UploadTick())
                break;
            bool moved = peer->Socket() && peer->Socket()->ReceivedBytes() != before;
            quiet = moved || dialer.SendLength() > 0 ? 0 : quiet + 1;
            if (!moved)
                platform::SleepMs(1);
        }
    }
    peer->Reset();
    peer->Release();
    dialer.Close();
    return 0;
}
