// TBTPeer: serving the remote's requests, writing out under the upload
// allowance, and what we tell the remote of our own pieces.
#include <algorithm>

#include "engine/base/engine_clock.h"
#include "engine/net/bt_peer.h"

namespace {
constexpr int32_t kSlowUpload = 28672;
constexpr int32_t kFlushWaiting = 1024;
constexpr int32_t kSelectAbove = 256;
constexpr int32_t kFlushChunk = 16384 + 1024;
constexpr int32_t kBudgetMargin = 512;
constexpr int32_t kServeStep = 65536;
} // namespace

bool TBTPeer::ServeRequests()
{
    ITaskPieceStore &store = task->Store();
    if (store.PieceLength() <= 0 || stage != PEER_STAGE_USABLE || weChoke || remoteRequests.empty() ||
        socket->SendLength() > 0 || store.FileSize() <= 0)
        return true;
    int32_t allowance = task->Meters().UploadAllowance();
    if (allowance == 0)
        return true;
    if (allowance < 0)
        allowance = store.PieceLength();
    int32_t budget = kBlockBytes;
    int32_t steps = UploadSpeed() / kServeStep;
    if (steps > 1)
        budget = steps * kBlockBytes - kBlockBytes;
    if (store.HasAllPieces())
        budget += kBlockBytes;
    budget = std::min(budget, allowance);

    std::vector<uint8_t> out;
    int64_t sum = 0;
    while (!remoteRequests.empty()) {
        TBlockRequest request = remoteRequests.front();
        sum += request.length;
        if (sum > budget && task->Meters().UploadsThisRound() > 0)
            break;
        if (!ServeOne(request, out)) {
            int64_t pieceLength = store.PieceLength();
            int64_t piece = request.block * kBlockBytes / pieceLength;
            // Only our own engines know the notice; to anyone else it would
            // be a block at a wrong offset.
            if (IsOurEngine())
                AppendCannotServe(out, static_cast<uint32_t>(piece));
            std::erase_if(remoteRequests,
                          [&](const TBlockRequest &r) { return r.block * kBlockBytes / pieceLength == piece; });
        }
        if (sum >= budget)
            break;
    }
    if (!SendBytes(out))
        return false;
    if (socket->SendLength() > 0) {
        counters.uploading = true;
        task->Meters().NoteUploading();
    }
    return true;
}

bool TBTPeer::ServeOne(const TBlockRequest &request, std::vector<uint8_t> &out)
{
    transfer.resize(kBlockBytes);
    int32_t read = task->Swarm().ReadBlock(request.block, request.length, transfer.data());
    if (read != request.length)
        return false;
    AppendPieceHeader(out, RefOfBlock(request.block, request.length, Geometry()));
    out.insert(out.end(), transfer.begin(), transfer.begin() + read);
    remoteRequests.pop_front();
    task->Meters().CountUpload(read);
    return true;
}

bool TBTPeer::FlushOutput()
{
    if (!IsConnected())
        return false;
    SendKeepAliveWhenQuiet();
    if (socket->SendLength() == 0 || socket->ConnectTime() == 0)
        return IsConnected();
    // The handshake and what follows it go out whole.
    if (stage != PEER_STAGE_USABLE)
        return socket->Flush() >= 0;
    int32_t speed = UploadSpeed();
    if (speed < kSlowUpload && socket->SendLength() > kFlushWaiting && (++flushToggle & 1) != 0)
        return true;
    int32_t budget = task->Meters().UploadAllowance() / 2;
    if (budget <= 0)
        return true;
    if (!socket->IsOverUdp() && socket->SendLength() > kSelectAbove && !socket->WaitWritable(0))
        return true;
    int32_t most = std::min(kFlushChunk, budget - kBudgetMargin + 1024);
    return socket->FlushSome(most) >= 0;
}

void TBTPeer::SendKeepAliveWhenQuiet()
{
    if (stage != PEER_STAGE_USABLE || EngineTime() - lastSendTime < kKeepAliveSeconds)
        return;
    std::vector<uint8_t> out;
    AppendKeepAlive(out);
    SendBytes(out);
}

void TBTPeer::AnnouncePieces(const std::vector<uint32_t> &pieces)
{
    if (stage != PEER_STAGE_USABLE)
        return;
    std::vector<uint8_t> out;
    int32_t count = task->Store().PieceCount();
    for (uint32_t piece : pieces) {
        if (piece < static_cast<uint32_t>(std::max(count, 0)))
            AppendHave(out, piece);
    }
    SendBytes(out);
}
