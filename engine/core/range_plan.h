#pragma once
#include <cstdint>
#include <utility>
#include <vector>

// The arithmetic of piece ranges for server sources, apart from the lists
// it applies to.

using TPieceSpan = std::pair<int32_t, int32_t>; // first, last (inclusive)

// The ranges the k-th of `sources` server addresses starts with over
// `pieces` pieces, split by its connection allowance. Empty when k is past
// the pieces (more sources than pieces) or an argument is not positive.
std::vector<TPieceSpan> InitialRanges(int32_t pieces, int32_t sources, int32_t k, int32_t allowance);

// Pieces a connection steals from the tail of an owner's range with
// `remaining` pieces left; 0 means no steal. Rates in bytes per second;
// askerHeldRange: the asking connection held a range before.
int32_t StealCount(int32_t remaining, int64_t askerRate, int64_t ownerRate, bool askerHeldRange);

// Seconds an owner at `rate` needs for `remaining` pieces of pieceLength
// bytes; -1 stands for unbounded (rate 0).
int64_t SecondsLeft(int32_t remaining, int32_t pieceLength, int64_t rate);
