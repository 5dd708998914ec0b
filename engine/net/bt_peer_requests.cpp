// TBTPeer: which pieces to fetch from the remote, and the requests on the
// wire.
#include <algorithm>

#include "engine/base/engine_clock.h"
#include "engine/net/bt_peer.h"
#include "engine/net/listen_settings.h"
#include "platform/tick.h"

namespace {
constexpr int32_t kPlanningAttempts = 3;
constexpr int64_t kNothingToPickPause = 60;
constexpr int32_t kCarveBlocks = 24;
constexpr int32_t kBatchFlush = 815;
constexpr int32_t kMinInFlight = 6;
constexpr int32_t kMinTopUpBelow = 5;
constexpr int64_t kRestampSeconds = 8;
constexpr int64_t kFocusReachBytes = 8 * 1024 * 1024;
constexpr int32_t kFocusReachPieces = 40;

int64_t Now()
{
    return EngineTime();
}
} // namespace

int32_t TBTPeer::InFlightTarget() const
{
    return std::min(std::max(DownloadSpeed() / kBlockBytes + 2, kMinInFlight), kMaxInFlight);
}

bool TBTPeer::PlanRequests()
{
    if (stage != PEER_STAGE_USABLE || remoteChokes)
        return true;
    if (task->Store().HasAllPieces()) {
        if (!requests.empty())
            ReturnRequests(true);
        return IsConnected();
    }
    if (nothingToPick && Now() - planTime < kNothingToPickPause)
        return true;
    int32_t limit = std::max(2 * DownloadSpeed() / kBlockBytes, 2);
    if (static_cast<int32_t>(requests.size()) >= limit || remotePieces <= 0)
        return true;
    planTime = Now();
    bool idle = sentRequests == 0;
    task->Swarm().PickPending(*this, remoteHave, 0);
    for (int attempt = 0; attempt < kPlanningAttempts && static_cast<int32_t>(requests.size()) < limit; ++attempt) {
        int32_t piece = NextPiece();
        if (piece < 0)
            break;
        size_t before = requests.size();
        QueuePiece(piece);
        if (requests.size() > before)
            break;
        task->Scheduling().ReportNotRequested(piece);
    }
    if (idle && !requests.empty())
        return TopUp(InFlightTarget());
    return true;
}

void TBTPeer::QueuePiece(int32_t piece)
{
    ITaskPieceStore &store = task->Store();
    ITaskScheduling &scheduling = task->Scheduling();
    int64_t missingAt = 0;
    if (store.MissingInPiece(piece, &missingAt) <= 0)
        return;
    counters.currentPiece = piece;
    int64_t pieceStart = static_cast<int64_t>(piece) * store.PieceLength();
    int64_t pieceEnd = std::min(pieceStart + store.PieceLength(), store.FileSize());
    // The whole piece goes on this queue: blocks left behind would keep the
    // piece marked as being fetched with nobody fetching them.
    for (int64_t offset = pieceStart + missingAt / kBlockBytes * kBlockBytes; offset < pieceEnd; offset += kBlockBytes) {
        int64_t block = offset / kBlockBytes;
        auto length = static_cast<int32_t>(std::min<int64_t>(kBlockBytes, pieceEnd - offset));
        if (QueueHolds(block) || scheduling.BlockRequestedOrPresent(block))
            continue;
        if (scheduling.PendingHolds(block))
            scheduling.TakePending(block, length);
        requests.push_back({block, length, Now(), false});
    }
}

bool TBTPeer::SendRequests()
{
    if (stage != PEER_STAGE_USABLE || remoteChokes)
        return true;
    int32_t below = std::max(DownloadSpeed() / kBlockBytes - 1, kMinTopUpBelow);
    if (sentRequests >= below || sentRequests >= static_cast<int32_t>(requests.size()))
        return true;
    return TopUp(InFlightTarget());
}

bool TBTPeer::TopUp(int32_t target)
{
    ITaskScheduling &scheduling = task->Scheduling();
    TBtGeometry geometry = Geometry();
    int64_t blocks = (geometry.fileSize + kBlockBytes - 1) / kBlockBytes;
    std::vector<uint8_t> batch;
    bool any = false;
    for (auto it = requests.begin(); it != requests.end() && sentRequests < target;) {
        if (it->sent) {
            ++it;
            continue;
        }
        if (it->block < 0 || it->block >= blocks || (scheduling.EndGame() && scheduling.BlockRequestedOrPresent(it->block))) {
            it = requests.erase(it);
            continue;
        }
        AppendBlockMessage(batch, BT_REQUEST, RefOfBlock(it->block, it->length, geometry));
        it->sent = true;
        it->time = Now();
        ++sentRequests;
        any = true;
        if (static_cast<int32_t>(batch.size()) > kBatchFlush) {
            if (!SendBytes(batch))
                return false;
            batch.clear();
        }
        ++it;
    }
    if (any)
        state = PEER_STATE_WAITING;
    return SendBytes(batch);
}

void TBTPeer::CancelObtained()
{
    if (stage != PEER_STAGE_USABLE)
        return;
    ITaskScheduling &scheduling = task->Scheduling();
    TBtGeometry geometry = Geometry();
    int32_t focus = scheduling.FocusPiece();
    int64_t reach = geometry.pieceLength > 0 ? kFocusReachBytes / geometry.pieceLength : kFocusReachPieces;
    std::vector<uint8_t> cancels;
    for (auto it = requests.begin(); it != requests.end();) {
        if (scheduling.BlockRequestedOrPresent(it->block)) {
            if (it->sent) {
                AppendBlockMessage(cancels, BT_CANCEL, RefOfBlock(it->block, it->length, geometry));
                --sentRequests;
            }
            it = requests.erase(it);
            continue;
        }
        int64_t piece = geometry.pieceLength > 0 ? it->block * kBlockBytes / geometry.pieceLength : 0;
        // Blocks a reader waits for go to the pending list too, so a faster
        // connection may fetch them.
        if (focus >= 0 && piece >= focus && piece <= focus + reach && Now() - it->time > kRestampSeconds) {
            it->time = Now();
            if (!scheduling.PendingHolds(it->block))
                scheduling.AddPending(it->block, it->length);
        }
        ++it;
    }
    SendBytes(cancels);
}

bool TBTPeer::QueuedIn(int32_t piece) const
{
    int64_t length = task->Store().PieceLength();
    return std::any_of(requests.begin(), requests.end(),
                       [&](const TBlockRequest &r) { return r.block * kBlockBytes / length == piece; });
}

bool TBTPeer::Pickable(int32_t piece)
{
    if (!BitSet(remoteHave, piece) || !task->Scheduling().NeedsPiece(piece) || !IsOpenForUs(piece))
        return false;
    return task->Swarm().MarkInProgress(piece);
}

int32_t TBTPeer::NextPiece()
{
    if (!IsConnected() || !task->Store().PieceLayerReady() || !IsListenEnabled())
        return -1;
    bool hadNothing = nothingToPick;
    nothingToPick = false;
    int32_t count = task->Store().PieceCount();
    int32_t focus = task->Scheduling().FocusPiece();
    for (int32_t p = std::max(focus, 0); focus >= 0 && p < count; ++p) {
        if (Pickable(p))
            return p;
    }
    if (task->Swarm().WaitsForServers())
        return -1;
    int32_t piece = task->Scheduling().Ranges().empty() ? -1 : PickFromRanges();
    if (piece < 0)
        piece = PickFromGroups();
    if (piece >= 0)
        return piece;
    if (!hadNothing)
        nothingToPickTime = Now();
    nothingToPick = true;
    return -1;
}

int32_t TBTPeer::PickFromOwnRange()
{
    // Our carved range is fetched downwards; its pieces are marked already.
    while (range->cursor > range->first) {
        int32_t p = --range->cursor;
        if (BitSet(remoteHave, p) && !task->Store().IsPieceComplete(p) && !QueuedIn(p))
            return p;
    }
    ReleaseRange();
    return -1;
}

int32_t TBTPeer::PickFromRanges()
{
    if (range != nullptr && range->givenUp && range->owner == this) {
        int32_t p = PickFromOwnRange();
        if (p >= 0)
            return p;
    }
    // Releasing our finished range may have removed the last one.
    auto &ranges = task->Scheduling().Ranges();
    size_t n = ranges.size();
    if (n == 0)
        return -1;
    size_t start = platform::TickCount() % n;
    for (size_t k = 0; k < n && range == nullptr; ++k) {
        TPieceRange &r = *ranges[(start + k) % n];
        if (r.scanned || r.givenUp)
            continue;
        int32_t low = r.owner != nullptr ? r.cursor + 1 : r.cursor;
        if (CarveRange(r, low))
            return range->cursor;
    }
    // No run long enough: single pieces from the tails.
    start = platform::TickCount() % n;
    for (size_t k = 0; k < n; ++k) {
        TPieceRange &r = *ranges[(start + k) % n];
        for (int32_t p = r.last; p >= r.cursor; --p) {
            if (Pickable(p))
                return p;
        }
    }
    return -1;
}

bool TBTPeer::CarveRange(TPieceRange &from, int32_t low)
{
    int32_t pieceLength = task->Store().PieceLength();
    if (pieceLength <= 0)
        return false;
    int32_t runEnd = -1;
    for (int32_t p = from.last; p >= low; --p) {
        bool open = BitSet(remoteHave, p) && task->Scheduling().NeedsPiece(p) && IsOpenForUs(p);
        if (!open) {
            runEnd = -1;
            continue;
        }
        if (runEnd < 0)
            runEnd = p;
        if (static_cast<int64_t>(runEnd - p + 1) * pieceLength / kBlockBytes < kCarveBlocks)
            continue;
        // The tail run is ours: the server's stream never reaches it.
        for (int32_t q = p; q <= runEnd; ++q)
            task->Swarm().MarkInProgress(q);
        TPieceRange *carved = task->Scheduling().AddRange(p, runEnd, this, address);
        if (carved == nullptr)
            return false;
        carved->givenUp = true;
        carved->cursor = runEnd;
        return true;
    }
    return false;
}

int32_t TBTPeer::PickFromGroups()
{
    int32_t count = task->Store().PieceCount();
    if (count <= 0)
        return -1;
    // The remote's latest piece is likely rare among the others.
    if (lastHave >= 0 && lastHave < count) {
        int32_t p = lastHave;
        lastHave = -1;
        if (Pickable(p))
            return p;
    }
    int32_t start = task->Swarm().RandomStartPiece() % count;
    for (int32_t k = 0; k < count; ++k) {
        int32_t p = (start + k) % count;
        if (Pickable(p))
            return p;
    }
    return -1;
}
