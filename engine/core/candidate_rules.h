#pragma once
#include <cstdint>

class TPeerId;

// The rules by which the pool ranks and admits candidate addresses.

// Candidate order: origin (higher first), outcomes (more first), failures
// (fewer first), attempts (fewer first), back-off (smaller first).
bool CandidateBefore(const TPeerId &a, const TPeerId &b);

// The readiness test made before every connect; it shrinks and counts down
// the candidate's back-off. speedZero: the task's smoothed speed is 0.
bool CandidateReady(TPeerId &candidate, bool speedZero, int64_t taskClock);

// How many more BitTorrent connections fit when a high-origin address
// arrives: budget b, n connections, h still being established.
int32_t RoomForPeers(int32_t halfOpenLimit, int32_t budget, int32_t connections, int32_t establishing,
                     bool outsideReachable);
