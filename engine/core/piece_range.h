#pragma once
#include <cstdint>

#include "engine/net/peer_id.h"

class TPeerObject;

// A run of pieces handed to one server connection. The scheduler's range list
// owns every range; a connection only points at the one it works on, and the
// scheduler clears that pointer when it frees the range.
struct TPieceRange {
    int32_t first = 0;
    int32_t last = 0;   // inclusive
    int32_t cursor = 0; // next piece to fetch (upwards; downwards when carved)
    int32_t arrivals = 0;
    bool scanned = false;  // the owner reached the end
    bool reopened = false; // pieces of a scanned range became open again
    bool givenUp = false;  // carved or abandoned: its pieces go back when released
    int64_t time = 0;      // task clock of the last assignment or cut
    TRef<TPeerId> source;          // the server the range was carved for
    TPeerObject *owner = nullptr;  // the connection working on it, or none

    int32_t Remaining() const { return last - cursor + 1; }
};
