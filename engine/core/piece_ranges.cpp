// Piece ranges of the server sources: the initial split over the addresses,
// assignment, take-over of stalled ranges and stealing in proportion to rates.
#include <algorithm>

#include "engine/core/piece_scheduler.h"
#include "engine/core/range_plan.h"
#include "engine/net/peer_object.h"
#include "platform/tick.h"

namespace {
constexpr int64_t kTakeOverSeconds = 10;
constexpr int64_t kShortEstimate = 10;
constexpr int32_t kManyMissing = 4;
constexpr int64_t kRecentCut = 3;
} // namespace

TPieceRange *TPieceScheduler::AddRange(int32_t first, int32_t last, TPeerObject *owner, TPeerId *source)
{
    if (first < 0 || last < first)
        return nullptr;
    auto range = std::make_unique<TPieceRange>();
    range->first = first;
    range->last = last;
    range->cursor = first;
    range->time = pool.TaskClock();
    range->source = TRef<TPeerId>::Share(source);
    TPieceRange *added = range.get();
    ranges.push_back(std::move(range));
    if (owner != nullptr) {
        added->owner = owner;
        owner->TakeRange(added);
    }
    return added;
}

void TPieceScheduler::RemoveRange(TPieceRange *range)
{
    auto it = std::find_if(ranges.begin(), ranges.end(), [range](const auto &r) { return r.get() == range; });
    if (it == ranges.end())
        return;
    if (range->owner != nullptr)
        range->owner->ForgetRange();
    ranges.erase(it);
}

void TPieceScheduler::ReopenRangeOf(TPeerObject &peer)
{
    if (TPieceRange *range = peer.Range())
        range->reopened = true;
}

void TPieceScheduler::EngageRanges()
{
    if (!ranges.empty() || !pieces.PieceLayerReady())
        return;
    int32_t n = pieces.PieceCount();
    std::vector<TPeerId *> sources;
    for (TPeerId *c : pool.Candidates()) {
        if (c->parsed && c->IsServer() && !c->mainTorrent)
            sources.push_back(c);
    }
    auto a = static_cast<int32_t>(sources.size());
    if (a == 0 || n == 0)
        return;
    for (int32_t k = 0; k < a; ++k) {
        for (const TPieceSpan &span : InitialRanges(n, a, k, sources[static_cast<size_t>(k)]->allowance))
            AddRange(span.first, span.second, nullptr, sources[static_cast<size_t>(k)]);
    }
}

void TPieceScheduler::Assign(TPieceRange &range, TPeerObject &peer)
{
    range.owner = &peer;
    range.time = pool.TaskClock();
    peer.TakeRange(&range);
}

bool TPieceScheduler::AssignRange(TPeerObject &peer)
{
    if (ranges.empty())
        return false;
    int64_t clock = pool.TaskClock();
    for (auto &r : ranges) {
        if (r->owner == nullptr && !r->scanned && !r->givenUp && r->cursor == peer.lastFinishedPiece + 1) {
            Assign(*r, peer);
            return true;
        }
    }
    size_t count = ranges.size();
    size_t start = platform::TickCount() % count;
    for (size_t i = 0; i < count; ++i) {
        TPieceRange &r = *ranges[(start + i) % count];
        if (r.owner == nullptr && !r.scanned && !r.reopened && !r.givenUp) {
            Assign(r, peer);
            return true;
        }
    }
    for (auto &r : ranges) {
        if (r->scanned && !r->reopened)
            continue;
        bool stalled = r->owner != nullptr && r->owner != &peer && r->cursor == r->first && r->arrivals == 0 &&
                       !r->reopened && clock - r->time > kTakeOverSeconds;
        if (stalled) {
            r->owner->ReleaseRange();
            Assign(*r, peer);
            return true;
        }
        if (r->owner == nullptr && r->reopened) {
            Assign(*r, peer);
            return true;
        }
    }
    if (peer.period.downRate == 0 && peer.rangesHeld > 0)
        return false;
    return Steal(peer);
}

bool TPieceScheduler::Steal(TPeerObject &peer)
{
    int64_t clock = pool.TaskClock();
    int64_t askerRate = peer.period.downRate;
    bool heldBefore = peer.rangesHeld > 0;
    int32_t missing = pieces.MissingPieceCount();
    int32_t pieceLength = pieces.PieceLength();

    auto choose = [&](bool fallback) -> TPieceRange * {
        TPieceRange *victim = nullptr;
        int64_t best = -1;
        for (auto &r : ranges) {
            if (r->owner == nullptr || r->owner == &peer || r->scanned)
                continue;
            int64_t ownerRate = r->owner->period.downRate;
            if (fallback) {
                if (clock - r->time <= kRecentCut && r->Remaining() <= 1)
                    continue;
            } else {
                if (!(clock - r->time > kTakeOverSeconds || ownerRate > 0))
                    continue;
                if (r->cursor == r->last && 2 * ownerRate > askerRate)
                    continue;
            }
            int64_t estimate = SecondsLeft(r->Remaining(), pieceLength, ownerRate);
            if (!fallback && estimate >= 0 && estimate <= kShortEstimate && missing >= kManyMissing)
                continue;
            if (estimate < 0)
                return r.get();
            if (estimate > best) {
                best = estimate;
                victim = r.get();
            }
        }
        return victim;
    };
    TPieceRange *victim = choose(false);
    if (victim == nullptr && !heldBefore)
        victim = choose(true);
    if (victim == nullptr)
        return false;

    while (victim->last > victim->cursor && !NeedsPiece(victim->last))
        --victim->last;
    TPeerObject *owner = victim->owner;
    int64_t ownerRate = owner->period.downRate;
    int32_t taken = StealCount(victim->Remaining(), askerRate, ownerRate, heldBefore);
    if (taken <= 0)
        return false;
    int32_t newFirst = victim->last - taken + 1;
    TPieceRange *stolen = AddRange(newFirst, victim->last, &peer, victim->source);
    if (stolen == nullptr)
        return false;
    victim->last = std::max(newFirst - 1, victim->cursor);
    victim->time = clock;
    if (victim->cursor == victim->last && victim->last == newFirst && owner->requests.empty() &&
        askerRate >= 3 * ownerRate) {
        victim->scanned = true;
        owner->ReleaseRange();
    }
    return true;
}
