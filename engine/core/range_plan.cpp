#include "engine/core/range_plan.h"

#include <algorithm>

std::vector<TPieceSpan> InitialRanges(int32_t n, int32_t a, int32_t k, int32_t allowance)
{
    std::vector<TPieceSpan> ranges;
    if (n <= 0 || a <= 0 || k < 0 || k >= a)
        return ranges;
    int32_t first = 0;
    int32_t last = 0;
    if (a >= n) {
        // One piece each until the pieces run out.
        if (k >= n)
            return ranges;
        first = last = k;
    } else {
        int32_t share = n / a;
        first = share * k;
        last = k == a - 1 ? n - 1 : share * (k + 1) - 1;
    }
    int32_t length = last - first + 1;
    int32_t parts = std::min((length + 5) / 5, std::max(allowance, 1));
    parts = std::min(length, parts);
    int32_t each = length / parts;
    for (int32_t part = 0; part < parts; ++part) {
        int32_t from = first + part * each;
        int32_t to = part == parts - 1 ? last : from + each - 1;
        ranges.emplace_back(from, to);
    }
    return ranges;
}

int32_t StealCount(int32_t remaining, int64_t askerRate, int64_t ownerRate, bool askerHeldRange)
{
    if (remaining <= 0)
        return 0;
    bool ownerMuchSlower = 2 * ownerRate < askerRate;
    int64_t m = 50;
    if (askerHeldRange) {
        int64_t total = ownerRate + askerRate;
        m = total > 0 ? askerRate * 100 / total : 50;
    }
    if (m < 100 && ownerMuchSlower)
        ++m;
    int64_t e = remaining == 1 ? 1 : static_cast<int64_t>(remaining) * m / 100;
    if (e < remaining && ownerMuchSlower)
        ++e;
    return static_cast<int32_t>(std::min<int64_t>(e, remaining));
}

int64_t SecondsLeft(int32_t remaining, int32_t pieceLength, int64_t rate)
{
    if (rate <= 0)
        return -1;
    return static_cast<int64_t>(remaining) * pieceLength / rate;
}
