#include "engine/net/peer_object.h"

#include <algorithm>
#include <cstdlib>

#include "engine/base/engine_clock.h"
#include "engine/net/listen_settings.h"
#include "engine/storage/pieces.h"

namespace {
constexpr int32_t kFocusDistance = 6;
constexpr int32_t kPlanningAttempts = 3;
constexpr int32_t kRangeAttempts = 3;
// Below this speed a source counts as trickling and gets twice the time.
constexpr int32_t kSlowSpeed = 2047;

int64_t Now()
{
    return EngineTime();
}
} // namespace

TPeerObject::TPeerObject(IPeerTask *task, int32_t kind) : task(task), kind(kind) {}

TPeerObject::~TPeerObject()
{
    // The task frees its ranges before its peers go; a range still pointed
    // at only loses its owner.
    if (range != nullptr)
        range->owner = nullptr;
}

uint64_t TPeerObject::TrafficIn() const
{
    return socket ? socket->ReceivedBytes() : 0;
}

uint64_t TPeerObject::TrafficOut() const
{
    return socket ? socket->SentBytes() : 0;
}

void TPeerObject::CloseSocket()
{
    if (socket)
        CloseCounted(*socket);
}

void TPeerObject::CloseCounted(QSocket &connection)
{
    uint64_t in = TrafficIn();
    uint64_t out = TrafficOut();
    tickCarryIn += in > tickBaseIn ? in - tickBaseIn : 0;
    tickCarryOut += out > tickBaseOut ? out - tickBaseOut : 0;
    connection.Close();
    // What the peer's other connections moved stays the base.
    tickBaseIn = TrafficIn();
    tickBaseOut = TrafficOut();
}

template <typename Steps> bool TPeerObject::Accounted(Steps steps)
{
    tickBaseIn = TrafficIn();
    tickBaseOut = TrafficOut();
    tickCarryIn = 0;
    tickCarryOut = 0;
    bool ok = steps();
    uint64_t in = TrafficIn();
    uint64_t out = TrafficOut();
    // A counter below its start means the socket was replaced; what the old
    // one moved is in the carry.
    tick.received = static_cast<int64_t>(tickCarryIn + (in > tickBaseIn ? in - tickBaseIn : 0));
    tick.sent = static_cast<int64_t>(tickCarryOut + (out > tickBaseOut ? out - tickBaseOut : 0));
    tick.totalSent += static_cast<uint64_t>(tick.sent);
    if (tick.received > 0 || tick.sent > 0)
        counters.idleCount = 0;
    return ok;
}

bool TPeerObject::DownloadTick()
{
    if (!IsConnected())
        return false;
    if (kind == PEER_KIND_BT && !IsListenEnabled())
        return false;
    bool ok = Accounted([this] {
        return ReadInput() && PlanRequests() && SendRequests() && FlushOutput() && IsConnected();
    });
    if (ok && stage == PEER_STAGE_USABLE && socket && socket->SendLength() > 0) {
        counters.uploading = true;
        task->Meters().NoteUploading();
    }
    return ok;
}

bool TPeerObject::UploadTick()
{
    if (kind != PEER_KIND_BT)
        return true;
    return Accounted([this] { return ServeRequests() && IsConnected(); });
}

bool TPeerObject::AttachAddress(TPeerId *newAddress)
{
    if (newAddress == nullptr || !newAddress->HasValidAddress())
        return false;
    // The same address again is a reconnect: no second reference.
    if (newAddress != address)
        address = TRef<TPeerId>::Share(newAddress);
    address->failedMark = false;
    if (socket)
        CloseSocket();
    else
        socket = std::make_unique<QSocket>();
    counters.attachTime = Now();
    counters.activityTime = counters.attachTime;
    return true;
}

bool TPeerObject::AttachSocket(std::unique_ptr<QSocket> accepted)
{
    Reset();
    socket = std::move(accepted);
    counters.attached = true;
    if (socket)
        stage = PEER_STAGE_CONNECTING;
    counters.attachTime = Now();
    counters.activityTime = counters.attachTime;
    return IsConnected();
}

void TPeerObject::Reset()
{
    if (!requests.empty()) {
        std::vector<TBlockRequest> moved(requests.begin(), requests.end());
        requests.clear();
        if (task != nullptr)
            task->Scheduling().ReturnBlocks(std::move(moved));
    }
    sentRequests = 0;
    remoteRequests.clear();
    CloseSocket();
    ReleaseRange();
    stage = PEER_STAGE_NONE;
    state = PEER_STATE_IDLE;
    focusSnapshot = 0;
    counters = TPeerCounters();
    tick = TTickCounters();
    if (address != nullptr) {
        if (address->useCount > 0)
            --address->useCount;
        address.Reset();
    }
}

bool TPeerObject::IsConnected()
{
    return stage != PEER_STAGE_NONE && socket && socket->HasHandle();
}

bool TPeerObject::IsFinished(bool ignoreIdle)
{
    if (!IsConnected() || IsUseless())
        return true;
    if (!ignoreIdle && IsIdleLong())
        return true;
    return task->Store().HasAllPieces() && IsSeed();
}

int32_t TPeerObject::QueueLimit() const
{
    return static_cast<int32_t>(2 * static_cast<int64_t>(tick.speed) / kBlockBytes + 2);
}

bool TPeerObject::SilentLongerThan(int64_t limit)
{
    if (tick.speed >= 1 && tick.speed <= kSlowSpeed)
        limit *= 2;
    if (Now() - counters.activityTime <= limit)
        return false;
    state = PEER_STATE_TIMED_OUT;
    ReleaseRange();
    return true;
}

bool TPeerObject::QueueHolds(int64_t block) const
{
    return std::any_of(requests.begin(), requests.end(), [block](const TBlockRequest &r) { return r.block == block; });
}

bool TPeerObject::PlanRequests()
{
    int32_t limit = QueueLimit();
    if (static_cast<int64_t>(requests.size()) > limit)
        return true;
    int32_t candidate = -1;
    int64_t missingAt = 0;
    for (int attempt = 0; attempt < kPlanningAttempts; ++attempt) {
        int32_t piece = NextPiece();
        if (piece < 0)
            break;
        if (task->Store().MissingInPiece(piece, &missingAt) > 0) {
            candidate = piece;
            break;
        }
    }
    int32_t focus = task->Scheduling().FocusPiece();
    if (IsServerKind(kind) && candidate > 0 && focus > 0 && std::abs(focusSnapshot - focus) > kFocusDistance) {
        ReleaseRange();
        int32_t piece = SplitAtFocus(focus);
        if (piece >= 0 && task->Store().MissingInPiece(piece, &missingAt) > 0)
            candidate = piece;
        else
            candidate = -1;
    }
    focusSnapshot = focus;
    if (candidate < 0)
        return true;
    counters.currentPiece = candidate;
    if (range != nullptr)
        range->cursor = candidate;

    ITaskPieceStore &store = task->Store();
    ITaskScheduling &scheduling = task->Scheduling();
    int64_t pieceStart = static_cast<int64_t>(candidate) * store.PieceLength();
    int64_t pieceEnd = std::min(pieceStart + store.PieceLength(), store.FileSize());
    int64_t offset = pieceStart + missingAt / kBlockBytes * kBlockBytes;
    for (; offset < pieceEnd; offset += kBlockBytes) {
        int64_t block = offset / kBlockBytes;
        auto length = static_cast<int32_t>(std::min<int64_t>(kBlockBytes, pieceEnd - offset));
        if (QueueHolds(block) || scheduling.BlockRequestedOrPresent(block))
            continue;
        if (kind == PEER_KIND_BT && static_cast<int64_t>(requests.size()) >= limit) {
            if (scheduling.EndGame() && !scheduling.PendingHolds(block))
                scheduling.AddPending(block, length);
            continue;
        }
        // A server stream fetches its range in order: a block parked by a
        // dropped connection is fetched here, not left waiting for a peer.
        if (kind != PEER_KIND_BT && scheduling.PendingHolds(block))
            scheduling.TakePending(block, length);
        requests.push_back({block, length, Now(), false});
    }
    return true;
}

bool TPeerObject::IsOpenForUs(int32_t piece)
{
    if (!task->Scheduling().NeedsPiece(piece))
        return false;
    // Fetched again it would only fail again until the pool drops the server.
    if (IsServerKind(kind) && address != nullptr && address->NeverVerifies(piece))
        return false;
    int64_t length = task->Store().PieceLength();
    return std::none_of(requests.begin(), requests.end(), [&](const TBlockRequest &r) {
        return r.block * kBlockBytes / length == piece;
    });
}

int32_t TPeerObject::NextPiece()
{
    if (!task->Store().PieceLayerReady())
        return -1;
    if (task->Scheduling().Ranges().empty())
        task->Scheduling().EngageRanges();
    if (range != nullptr) {
        for (int32_t p = std::max(counters.currentPiece + 1, range->first); p <= range->last; ++p) {
            if (IsOpenForUs(p)) {
                counters.currentPiece = p;
                return p;
            }
        }
        CloseScannedRange();
    }
    for (int attempt = 0; attempt < kRangeAttempts; ++attempt) {
        if (range == nullptr && !AcquireRange())
            return -1;
        if (range->cursor > range->first && IsOpenForUs(range->cursor - 1))
            --range->cursor;
        if (range->reopened) {
            range->cursor = range->first;
            range->scanned = false;
            range->reopened = false;
        }
        for (int32_t p = range->cursor; p <= range->last; ++p) {
            if (IsOpenForUs(p)) {
                counters.currentPiece = p;
                return p;
            }
        }
        task->Scheduling().RemoveRange(range);
    }
    return -1;
}

bool TPeerObject::AcquireRange()
{
    if (task->Store().HasAllPieces())
        return false;
    if (task->Scheduling().AssignRange(*this))
        return range != nullptr;
    auto &ranges = task->Scheduling().Ranges();
    if (std::any_of(ranges.begin(), ranges.end(), [](const auto &r) { return !r->scanned; }))
        return false;
    int32_t count = task->Store().PieceCount();
    int32_t start = 0;
    while (start < count && !IsOpenForUs(start))
        ++start;
    if (start >= count)
        return false;
    int32_t end = start;
    while (end + 1 < count && IsOpenForUs(end + 1))
        ++end;
    task->Scheduling().AddRange(start, end, this, address);
    return range != nullptr;
}

void TPeerObject::CloseScannedRange()
{
    if (range == nullptr)
        return;
    TPieceRange *done = range;
    if (!done->scanned) {
        done->scanned = true;
        for (int32_t p = done->first; p <= done->last && !done->reopened; ++p)
            done->reopened = task->Scheduling().NeedsPiece(p);
    }
    range = nullptr;
    if (done->scanned && !done->reopened)
        task->Scheduling().RemoveRange(done);
    else
        done->owner = nullptr;
}

int32_t TPeerObject::SplitAtFocus(int32_t focus)
{
    for (auto &candidate : task->Scheduling().Ranges()) {
        TPieceRange *r = candidate.get();
        if (r->scanned || r->givenUp || focus < r->first || focus > r->last)
            continue;
        int32_t last = r->last;
        r->last = std::max(r->first, focus - 1);
        if (task->Scheduling().AddRange(focus, last, this, address) == nullptr)
            return -1;
        counters.currentPiece = focus;
        return focus;
    }
    return -1;
}

void TPeerObject::ReleaseRange()
{
    if (range == nullptr)
        return;
    TPieceRange *held = range;
    range = nullptr;
    if (held->givenUp) {
        if (!held->scanned) {
            for (int32_t p = held->first; p < held->cursor; ++p)
                task->Scheduling().ReportNotRequested(p);
        }
        task->Scheduling().RemoveRange(held);
        return;
    }
    requests.clear();
    sentRequests = 0;
    held->owner = nullptr;
}

bool TPeerObject::RangeEnded()
{
    if (range == nullptr || range->cursor < range->last || task->Scheduling().NeedsPiece(range->last))
        return false;
    requests.clear();
    sentRequests = 0;
    // Reaching the end marks the range scanned now, whatever it was before.
    range->scanned = false;
    CloseScannedRange();
    return true;
}

void TPeerObject::DropRequestsInPiece(int32_t piece, bool unsentOnly)
{
    int64_t length = task->Store().PieceLength();
    std::erase_if(requests, [&](const TBlockRequest &r) {
        return r.block * kBlockBytes / length == piece && !(unsentOnly && r.sent);
    });
}

bool TPeerObject::DeliverBlock(int64_t block, int32_t length, const uint8_t *bytes)
{
    if (block < 0 || length <= 0 || length > kBlockBytes || bytes == nullptr || !IsConnected())
        return false;
    if (task->Store().FileSize() <= 0)
        return true;
    task->Meters().CountPayload(length);
    counters.activityTime = Now();
    if (range != nullptr)
        ++range->arrivals;

    auto match = std::find_if(requests.begin(), requests.end(), [&](const TBlockRequest &r) {
        return r.block == block && r.length == length && (kind != PEER_KIND_BT || r.sent);
    });
    if (match != requests.end()) {
        if (match->sent && sentRequests > 0)
            --sentRequests;
        requests.erase(match);
    } else if (!task->Scheduling().TakePending(block, length)) {
        return false;
    }

    if (state == PEER_STATE_WAITING)
        state = PEER_STATE_ACTIVE;
    int32_t pieceLength = task->Store().PieceLength();
    auto piece = static_cast<int32_t>(block * kBlockBytes / pieceLength);
    bool needed = false;
    int32_t taken = task->Store().WriteBlock(block, length, bytes, this, &needed);
    if (taken == TPieces::kPieceCorrupt) {
        task->Scheduling().ReportNotRequested(piece);
        ++failures;
        // A server's stream goes on with the next pieces: dropping it would
        // restart it at the same corrupt piece, again and again. The piece
        // stays missing, so the range reopens and fetches it once more.
        return IsServerKind(kind);
    }
    if (taken != length)
        return false;
    task->Meters().CountKindBytes(kind, length);
    totalBytes += length;
    totalKB = totalBytes / 1024;
    period.payload += length;
    int64_t pieceEnd = std::min(static_cast<int64_t>(piece + 1) * pieceLength, task->Store().FileSize());
    if (block * kBlockBytes + length >= pieceEnd)
        lastFinishedPiece = piece;
    if (task->Scheduling().EndGame() && task->Store().IsPieceComplete(piece))
        DropRequestsInPiece(piece, true);
    return true;
}

int32_t TPeerObject::UploadSpeed() const
{
    if (!socket || socket->ConnectTime() == 0 || socket->SentBytes() == 0)
        return 0;
    int64_t elapsed = std::max<int64_t>(Now() - static_cast<int64_t>(socket->ConnectTime()), 1);
    return static_cast<int32_t>(std::min<uint64_t>(socket->SentBytes() / static_cast<uint64_t>(elapsed), INT32_MAX));
}

int32_t TPeerObject::DownloadSpeed() const
{
    if (!socket || socket->ConnectTime() == 0 || socket->ReceivedBytes() == 0)
        return 0;
    int64_t elapsed = std::max<int64_t>(Now() - static_cast<int64_t>(socket->ConnectTime()), 1);
    return static_cast<int32_t>(
        std::min<uint64_t>(socket->ReceivedBytes() / static_cast<uint64_t>(elapsed), INT32_MAX));
}

uint32_t TPeerObject::SourceAddress() const
{
    if (address != nullptr)
        return address->address;
    return socket ? socket->RemoteAddress() : 0;
}

uint16_t TPeerObject::SourcePort() const
{
    if (address != nullptr)
        return static_cast<uint16_t>(address->port);
    return socket ? static_cast<uint16_t>(socket->RemotePort()) : 0;
}

void TPeerObject::CountWholePiece()
{
    if (address != nullptr)
        ++address->outcomes;
}

void TPeerObject::CountBadPiece(int32_t piece)
{
    if (address == nullptr)
        return;
    ++address->failedOutcomes;
    ++address->pieceFailures[piece];
}

void TPeerObject::ClearBadPieces()
{
    if (address != nullptr)
        address->failedOutcomes = 0;
}
