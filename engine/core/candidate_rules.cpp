#include "engine/core/candidate_rules.h"

#include <algorithm>

#include "engine/net/peer_id.h"

namespace {
constexpr int64_t kTrackerPause = 600;
} // namespace

bool CandidateBefore(const TPeerId &a, const TPeerId &b)
{
    if (a.origin != b.origin)
        return a.origin > b.origin;
    if (a.outcomes != b.outcomes)
        return a.outcomes > b.outcomes;
    if (a.failures != b.failures)
        return a.failures < b.failures;
    if (a.attempts != b.attempts)
        return a.attempts < b.attempts;
    return a.backOff < b.backOff;
}

bool CandidateReady(TPeerId &c, bool speedZero, int64_t taskClock)
{
    if (!c.parsed)
        return false;
    if ((c.kind == PEER_KIND_BT || c.kind == PEER_KIND_TRACKER) && c.useCount > 0)
        return false;
    if (c.IsServer()) {
        if (c.useCount >= c.allowance)
            return false;
        const TUrlParts *parts = c.PartsIfAny();
        if (c.useCount == 1 && (parts == nullptr || parts->serverSize <= 0))
            return false;
        if (c.useCount == 0) {
            if (c.outcomes > 15) {
                c.backOff = 0;
                return true;
            }
            if (c.outcomes > 5)
                c.backOff = c.backOff < 10 ? 0 : c.backOff / 10;
            else if (c.outcomes > 0)
                c.backOff = c.backOff < 5 ? 0 : c.backOff / 5;
        }
        if (speedZero)
            c.backOff = c.backOff <= 10 ? 0 : c.backOff / 10;
    }
    // A tracker is asked again after the interval it gave, never sooner than
    // the pause.
    if (c.kind == PEER_KIND_TRACKER && c.lastConnect != 0 &&
        taskClock - c.lastConnect < std::max<int64_t>(kTrackerPause, c.announceInterval))
        return false;
    if (c.backOff > 0)
        --c.backOff;
    return c.backOff <= 0;
}

int32_t RoomForPeers(int32_t halfOpenLimit, int32_t budget, int32_t connections, int32_t establishing,
                     bool outsideReachable)
{
    int32_t cap = std::min(halfOpenLimit, budget);
    cap = std::min(2 * cap, budget);
    int32_t step = budget >= 100 && !outsideReachable ? 32 : 16;
    int32_t room = budget < step + connections ? budget - connections : step;
    if (establishing + room >= cap)
        room = cap - establishing - 1;
    return std::max(room, 0);
}
