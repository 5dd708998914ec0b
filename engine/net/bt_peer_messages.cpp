// TBTPeer: the messages the remote sends once the handshake is done.
#include <algorithm>

#include "engine/base/engine_clock.h"
#include "engine/net/bt_peer.h"

namespace {
constexpr int32_t kPartialNoteBytes = 1024;
constexpr int32_t kKeepBufferSpeed = 262143;
constexpr int32_t kKeepBufferRead = 16383;
constexpr int32_t kHaveBytes = 4;
} // namespace

bool TBTPeer::ParseMessages()
{
    const uint8_t *data = socket->ReceiveBuffer().Data();
    int32_t length = socket->ReceiveLength();
    int32_t used = 0;
    bool ok = true;
    while (ok && used < length) {
        TBtMessage message;
        TBtFrame frame = NextBtFrame(data + used, length - used, message);
        if (frame == TBtFrame::Oversized) {
            ++failures;
            return false;
        }
        if (frame == TBtFrame::Incomplete) {
            if (message.hasId && message.id == BT_PIECE)
                NotePartialPiece(data + used, length - used);
            break;
        }
        // Handlers never send: a failed send would free the bytes parsed here.
        ok = HandleMessage(message);
        used += message.frameLength;
    }
    if (used > 0 && IsConnected())
        socket->ConsumeReceived(used, DownloadSpeed() > kKeepBufferSpeed || readThisRound > kKeepBufferRead);
    return ok && IsConnected();
}

bool TBTPeer::HandleMessage(const TBtMessage &message)
{
    if (message.keepAlive)
        return true;
    switch (message.id) {
    case BT_CHOKE:
    case BT_UNCHOKE:
        TakeChoke(message.id == BT_CHOKE);
        return true;
    case BT_INTERESTED:
    case BT_NOT_INTERESTED:
        remoteInterested = message.id == BT_INTERESTED;
        return true;
    case BT_HAVE:
        return TakeHave(message);
    case BT_BITFIELD:
        return TakeBitfield(message);
    case BT_REQUEST:
    case BT_CANCEL:
        TakeRequest(message, message.id == BT_CANCEL);
        return true;
    case BT_PIECE:
        return TakePiece(message);
    default:
        return true;
    }
}

void TBTPeer::TakeChoke(bool choked)
{
    remoteChokes = choked;
    state = choked || weChoke ? PEER_STATE_HANDSHAKEN : PEER_STATE_ACTIVE;
    if (!choked)
        chokeTime = 0;
    else if (chokeTime == 0)
        chokeTime = EngineTime();
}

bool TBTPeer::TakeHave(const TBtMessage &message)
{
    if (message.payloadLength != kHaveBytes) {
        ++failures;
        return true;
    }
    uint32_t piece = ReadBigEndian32(message.payload);
    int32_t count = task->Store().PieceCount();
    // An index past the pieces would set a bit outside the map.
    if (count <= 0 || piece >= static_cast<uint32_t>(count)) {
        ++failures;
        return true;
    }
    auto index = static_cast<int32_t>(piece);
    if (!BitSet(remoteHave, index)) {
        SetBit(remoteHave, index, true);
        ++remotePieces;
        if (remotePieces >= count)
            IsSeed();
    }
    if (task->Scheduling().NeedsPiece(index))
        nothingToPick = false;
    lastHave = index;
    return true;
}

bool TBTPeer::TakeBitfield(const TBtMessage &message)
{
    int32_t count = task->Store().PieceCount();
    if (count <= 0)
        return true;
    std::vector<uint8_t> bitmap(message.payload, message.payload + message.payloadLength);
    // Spare bits past the last piece would count pieces that do not exist.
    if (!MaskSpareBits(bitmap, count)) {
        ++failures;
        return false;
    }
    remoteHave = std::move(bitmap);
    remotePieces = CountBits(remoteHave);
    remotePiecesAtBitfield = remotePieces;
    nothingToPick = remotePieces == 0;
    remoteHasPieces = remotePieces > 0;
    return true;
}

void TBTPeer::TakeRequest(const TBtMessage &message, bool cancel)
{
    TBtBlockRef ref;
    TBtGeometry geometry = Geometry();
    if (!ParseBlockFields(message, ref) || !BlockInBounds(ref, geometry)) {
        ++failures;
        return;
    }
    int64_t block = BlockNumber(ref, geometry);
    auto length = static_cast<int32_t>(ref.length);
    auto same = [&](const TBlockRequest &r) { return r.block == block && r.length == length; };
    if (cancel) {
        std::erase_if(remoteRequests, same);
        return;
    }
    if (weChoke || remoteRequests.size() >= kMaxRemoteRequests ||
        std::any_of(remoteRequests.begin(), remoteRequests.end(), same) ||
        !task->Store().IsPieceComplete(static_cast<int32_t>(ref.index)))
        return;
    remoteRequests.push_back({block, length, EngineTime(), false});
}

bool TBTPeer::TakePiece(const TBtMessage &message)
{
    int64_t notice = CannotServePiece(message);
    if (notice >= 0) {
        TakeCannotServe(static_cast<uint32_t>(notice));
        return true;
    }
    partialPiece = false;
    partialNoted = 0;
    TBtBlockRef ref;
    if (!ParsePieceFields(message, ref)) {
        ++failures;
        return true;
    }
    if (ref.length > static_cast<uint32_t>(kBtMaxPieceBlock)) {
        ++failures;
        return false;
    }
    TBtGeometry geometry = Geometry();
    if (!BlockInBounds(ref, geometry)) {
        ++failures;
        return true;
    }
    int64_t block = BlockNumber(ref, geometry);
    auto length = static_cast<int32_t>(ref.length);
    bool asked = std::any_of(requests.begin(), requests.end(),
                             [&](const TBlockRequest &r) { return r.sent && r.block == block && r.length == length; });
    if (!asked) {
        // Parked blocks are whole: a shorter one would be refused.
        int64_t offset = block * kBlockBytes;
        int64_t pieceEnd = std::min<int64_t>(static_cast<int64_t>(ref.index + 1) * geometry.pieceLength, geometry.fileSize);
        asked = task->Scheduling().PendingHolds(block) && length == std::min<int64_t>(kBlockBytes, pieceEnd - offset);
    }
    // A block that crossed our cancel or the remote's choke is late, not
    // wrong.
    if (!asked)
        return true;
    return DeliverBlock(block, length, message.payload + 8);
}

void TBTPeer::TakeCannotServe(uint32_t piece)
{
    int32_t count = task->Store().PieceCount();
    if (piece >= static_cast<uint32_t>(std::max(count, 0)))
        return;
    auto index = static_cast<int32_t>(piece);
    if (BitSet(remoteHave, index)) {
        SetBit(remoteHave, index, false);
        --remotePieces;
    }
    int64_t pieceLength = task->Store().PieceLength();
    std::vector<TBlockRequest> back;
    for (auto it = requests.begin(); it != requests.end();) {
        if (it->block * kBlockBytes / pieceLength != index) {
            ++it;
            continue;
        }
        if (it->sent && sentRequests > 0)
            --sentRequests;
        back.push_back(*it);
        it = requests.erase(it);
    }
    if (!back.empty())
        task->Scheduling().ReturnBlocks(std::move(back));
}

void TBTPeer::NotePartialPiece(const uint8_t *data, int32_t length)
{
    partialPiece = true;
    if (length - partialNoted <= kPartialNoteBytes)
        return;
    partialNoted = length;
    TBtMessage message;
    NextBtFrame(data, length, message);
    TBtBlockRef ref;
    // The fields are there once 13 bytes arrived; a wrong block stamps nothing.
    if (length < kBtPieceHeader || !ParsePieceFields(message, ref) || !BlockInBounds(ref, Geometry()))
        return;
    int64_t block = BlockNumber(ref, Geometry());
    for (TBlockRequest &r : requests) {
        if (r.sent && r.block == block)
            r.time = EngineTime();
    }
}

void TBTPeer::ReturnRequests(bool cancelSent)
{
    if (requests.empty())
        return;
    std::vector<uint8_t> cancels;
    TBtGeometry geometry = Geometry();
    std::vector<TBlockRequest> back;
    for (const TBlockRequest &r : requests) {
        if (cancelSent && r.sent)
            AppendBlockMessage(cancels, BT_CANCEL, RefOfBlock(r.block, r.length, geometry));
        back.push_back(r);
    }
    requests.clear();
    sentRequests = 0;
    task->Scheduling().ReturnBlocks(std::move(back));
    SendBytes(cancels);
}

bool TBTPeer::AfterChokeChange(bool wasChoked)
{
    if (remoteChokes == wasChoked)
        return true;
    if (remoteChokes) {
        ReturnRequests(true);
        return IsConnected();
    }
    return TopUp(InFlightTarget());
}
