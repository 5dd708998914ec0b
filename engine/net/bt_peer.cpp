// TBTPeer: connecting, the handshake with its disguise, reading, choking and
// the judgements the pool asks for.
#include "engine/net/bt_peer.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "engine/base/engine_clock.h"
#include "engine/core/engine_state.h"
#include "engine/core/incoming_handshake.h"
#include "engine/net/bt_transport_choice.h"
#include "engine/net/listen_settings.h"

namespace {
constexpr int32_t kInfoHashOffset = 28;
constexpr int32_t kPeerIdOffset = 48;
constexpr uint8_t kEnginePeerIdPrefix[4] = {0x00, 0x01, 'Q', 'l'};
constexpr int32_t kSessionReceiveBuffer = 40960;
constexpr int32_t kSmallRead = 2048;
constexpr int32_t kReadSlack = 1024;
constexpr int64_t kSeedLongSeconds = 15;
constexpr int64_t kUselessAfterSeconds = 120;
constexpr int32_t kUselessRate = 18;
constexpr int64_t kIdleLongSeconds = 90;
constexpr int32_t kRemoteRateGain = 4;

int64_t Now()
{
    return EngineTime();
}

// The pool fills bytes 14..19 of an address it only knows from a tracker
// or an announcement; such an id says nothing about the remote program.
bool IdKnown(const std::array<uint8_t, 20> &id)
{
    return std::any_of(id.begin(), id.begin() + 14, [](uint8_t b) { return b != 0; });
}

bool OurEngineId(const uint8_t *id)
{
    return std::memcmp(id, kEnginePeerIdPrefix, sizeof kEnginePeerIdPrefix) == 0;
}
} // namespace

TBTPeer::TBTPeer(IPeerTask *task) : TPeerObject(task, PEER_KIND_BT) {}

void TBTPeer::Reset()
{
    TPeerObject::Reset();
    remoteIdKnown = false;
    remoteHave.clear();
    weChoke = true;
    remoteChokes = true;
    remoteInterested = false;
    nothingToPick = false;
    remotePiecesAtBitfield = 0;
    remotePieces = 0;
    lastHave = -1;
    nothingToPickTime = 0;
    chokeTime = 0;
    seedTime = 0;
    planTime = 0;
    lastSendTime = 0;
    remoteHasPieces = false;
    partialPiece = false;
    partialNoted = 0;
    flushToggle = 0;
    handshakeSent = false;
    sentDisguised = false;
    connectedTime = 0;
    readThisRound = 0;
    transfer.clear();
    transfer.shrink_to_fit();
}

bool TBTPeer::AttachAddress(TPeerId *target)
{
    Reset();
    if (!TPeerObject::AttachAddress(target))
        return false;
    return Connect();
}

bool TBTPeer::Connect()
{
    handshakeSent = false;
    sentDisguised = false;
    connectedTime = 0;
    counters.attachTime = Now();
    const std::optional<TUdpTag> udpTag = UdpDialTag(*address, task->Swarm().WantsUdp());
    const bool connecting =
        socket->Connect(address->address, address->port, false, 0, udpTag ? udpTag->data() : nullptr);
    stage = connecting ? PEER_STAGE_CONNECTING : PEER_STAGE_NONE;
    if (!IsConnected())
        return false;
    // The handshake waits in the send buffer until the connect completes.
    return Greet();
}

bool TBTPeer::WrapOutgoing() const
{
    // The disguise is for TCP filters; the UDP transport needs none.
    if (address == nullptr || address->plainOnly || OverUdp())
        return false;
    // A standard client would take the request line for garbage.
    if (IdKnown(address->peerId) && !OurEngineId(address->peerId.data()))
        return false;
    return IsHttpWrap() || address->attempts % 3 == 1;
}

bool TBTPeer::RetryPlain()
{
    if (!sentDisguised || !HandshakeDue() || counters.attached || address == nullptr)
        return false;
    address->plainOnly = true;
    CloseSocket();
    return Connect();
}

bool TBTPeer::Greet()
{
    return SendHandshake();
}

bool TBTPeer::SendHandshake()
{
    const uint8_t *handshake = task->Swarm().Handshake();
    if (handshake == nullptr || !socket)
        return false;
    std::memcpy(handshakeCopy.data(), handshake, handshakeCopy.size());
    std::string header;
    if (counters.attached) {
        if (socket->IsDisguised())
            header = DisguiseAnswer(EngineSeconds(), Now());
    } else if (WrapOutgoing()) {
        header = DisguiseRequest(address->address, address->port, address->attempts);
        sentDisguised = true;
    }
    std::vector<uint8_t> out(header.begin(), header.end());
    out.insert(out.end(), handshakeCopy.begin(), handshakeCopy.end());
    handshakeSent = true;
    return SendBytes(out);
}

bool TBTPeer::SendBytes(const std::vector<uint8_t> &bytes)
{
    if (bytes.empty())
        return true;
    if (!socket || socket->Send(bytes.data(), static_cast<int32_t>(bytes.size())) < 0)
        return false;
    lastSendTime = Now();
    return true;
}

bool TBTPeer::IsOurEngine() const
{
    return remoteIdKnown && OurEngineId(remoteId.data());
}

const uint8_t *TBTPeer::RemotePeerId() const
{
    return remoteIdKnown ? remoteId.data() : nullptr;
}

TBtGeometry TBTPeer::Geometry()
{
    ITaskPieceStore &store = task->Store();
    return {store.FileSize(), store.PieceLength(), store.PieceCount()};
}

bool TBTPeer::CheckIncoming()
{
    if (stage != PEER_STAGE_CONNECTING || !socket)
        return false;
    const uint8_t *data = socket->ReceiveBuffer().Data();
    int32_t length = socket->ReceiveLength();
    const uint8_t *ours = task->Swarm().Handshake();
    const uint8_t *named = HandshakeInfoHash(data, length);
    if (ours == nullptr || named == nullptr || length < kHandshakeBytes ||
        std::memcmp(named, ours + kInfoHashOffset, 20) != 0)
        return false;
    const uint8_t *id = data + kPeerIdOffset;
    if (std::memcmp(id, ours + kPeerIdOffset, 20) == 0)
        return false;
    if (counters.attached && address == nullptr) {
        TPeerId *known = task->Swarm().AddressOfIncoming(socket->RemoteAddress(), socket->RemotePort());
        if (known == nullptr)
            return false;
        address = TRef<TPeerId>::Share(known);
        // Reset gives the use back.
        ++address->useCount;
    }
    std::memcpy(remoteId.data(), id, remoteId.size());
    remoteIdKnown = true;
    if (address != nullptr)
        address->peerId = remoteId;
    return true;
}

int TBTPeer::TakeHandshake()
{
    int32_t disguise = DisguiseLength(socket->ReceiveBuffer().Data(), socket->ReceiveLength());
    if (disguise < 0)
        return socket->ReceiveLength() > kMaxDisguiseHeader ? -1 : 0;
    if (disguise > kMaxDisguiseHeader)
        return -1;
    if (disguise > 0) {
        socket->ConsumeReceived(disguise, true);
        socket->SetDisguised();
    }
    if (socket->ReceiveLength() < kHandshakeBytes)
        return 0;
    if (!CheckIncoming() || task->Swarm().DuplicatePeer(*this, remoteId.data()))
        return -1;
    OpenSession();
    return 1;
}

void TBTPeer::OpenSession()
{
    stage = PEER_STAGE_USABLE;
    if (address != nullptr)
        address->failedMark = false;
    socket->ConsumeReceived(kHandshakeBytes, true);
    remoteHave.assign((static_cast<size_t>(std::max(task->Store().PieceCount(), 0)) + 7) / 8, 0);
    remotePieces = 0;
    remotePiecesAtBitfield = 0;
    lastHave = -1;
    chokeTime = Now();
    state = PEER_STATE_HANDSHAKEN;
    remoteChokes = true;
    weChoke = false;
    std::vector<uint8_t> out;
    const std::vector<uint8_t> &have = task->Swarm().HaveMap();
    if (!have.empty() && have.size() == remoteHave.size())
        AppendBitfield(out, have);
    AppendSimple(out, BT_INTERESTED);
    AppendSimple(out, BT_UNCHOKE);
    SendBytes(out);
    socket->SetReceiveBufferSize(kSessionReceiveBuffer);
}

int32_t TBTPeer::ReadSize()
{
    int32_t allowance = task->Meters().DownloadAllowance();
    if (!HandshakeDue() && allowance <= 0)
        return 0;
    int32_t size = kSmallRead;
    if (!remoteChokes && !requests.empty() && !HandshakeDue()) {
        int32_t speed = DownloadSpeed();
        size = (speed <= 65535 ? 16384 : speed <= 262143 ? 32768 : 65536) + kReadSlack;
    }
    if (allowance < size)
        size = HandshakeDue() ? std::max(allowance, kHandshakeReadFloor) : allowance;
    return size;
}

bool TBTPeer::ReceiveSome()
{
    readThisRound = 0;
    int32_t size = ReadSize();
    if (size <= 0)
        return true;
    int32_t allowance = HandshakeDue() ? size : task->Meters().DownloadAllowance();
    for (;;) {
        uint64_t before = socket->ReceivedBytes();
        if (socket->Receive(size) < 0)
            return false;
        auto got = static_cast<int32_t>(socket->ReceivedBytes() - before);
        readThisRound += got;
        // A full read means more is waiting: take it while the second's
        // allowance lasts.
        int32_t left = allowance - readThisRound;
        if (got < size || left <= 0 || HandshakeDue())
            return true;
        size = std::min(size * 2, left);
    }
}

bool TBTPeer::ReadInput()
{
    if (!IsConnected())
        return false;
    if (!socket->IsConnected()) {
        if (!socket->HasHandle())
            return false;
        return Now() - counters.attachTime <= (OverUdp() ? kUdpConnectSeconds : kConnectSeconds);
    }
    // The handshake's time runs from the connect's completion: over UDP the
    // connect alone may take most of its own limit.
    if (connectedTime == 0)
        connectedTime = Now();
    if (HandshakeDue() && Now() - connectedTime > kHandshakeSeconds)
        return RetryPlain();
    bool wasChoked = remoteChokes;
    if (!ReceiveSome())
        return RetryPlain();
    if (HandshakeDue()) {
        int taken = TakeHandshake();
        if (taken < 0) {
            stage = PEER_STAGE_NONE;
            CloseSocket();
            return false;
        }
        if (taken == 0)
            return true;
    }
    if (!ParseMessages())
        return false;
    return AfterChokeChange(wasChoked);
}

void TBTPeer::SetChoke(bool choke)
{
    if (stage != PEER_STAGE_USABLE || choke == weChoke)
        return;
    weChoke = choke;
    state = choke || remoteChokes ? PEER_STATE_HANDSHAKEN : PEER_STATE_ACTIVE;
    if (choke)
        remoteRequests.clear();
    std::vector<uint8_t> out;
    AppendSimple(out, choke ? BT_CHOKE : BT_UNCHOKE);
    SendBytes(out);
}

bool TBTPeer::IsSeed()
{
    if (seedTime != 0)
        return true;
    int32_t count = task->Store().PieceCount();
    if (!IsConnected() || task->Store().FileSize() <= 0 || count <= 0 || remotePieces < count)
        return false;
    seedTime = Now();
    return true;
}

bool TBTPeer::IsSeedLong()
{
    return IsSeed() && Now() - seedTime > kSeedLongSeconds;
}

bool TBTPeer::IsUseless()
{
    if (!IsListenEnabled())
        return true;
    if (Now() - counters.attachTime <= kUselessAfterSeconds)
        return false;
    if (task->Store().HasAllPieces())
        return UploadSpeed() < 1 && period.upRate <= kUselessRate;
    return DownloadSpeed() < 1 && period.downRate <= kUselessRate;
}

bool TBTPeer::IsIdleLong()
{
    return nothingToPick && nothingToPickTime != 0 && Now() - nothingToPickTime > kIdleLongSeconds;
}

int32_t TBTPeer::RemoteRate()
{
    int32_t gained = remotePieces - remotePiecesAtBitfield;
    if (stage != PEER_STAGE_USABLE || gained <= kRemoteRateGain)
        return 0;
    int64_t seconds = std::max<int64_t>(Now() - counters.attachTime, 1);
    return static_cast<int32_t>(static_cast<int64_t>(gained) * (task->Store().PieceLength() / 1024) / seconds);
}
