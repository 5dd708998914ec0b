#pragma once
#include <cstdint>
#include <string>

#include "engine/storage/task_phase.h"

// A server dropped because its data fails the torrent's hashes, told by the
// piece that failed most often from it.
struct TBadDataVerdict {
    std::string host;
    int32_t piece = -1;
    int32_t failures = 0;
};

// The last failure of a source, worded for a front-end to show
// ("127.0.0.1:8080: HTTP 500 Internal Server Error").
struct TSourceFailureNote {
    std::string text;
    // Grows with every failure noted.
    uint32_t serial = 0;
    // Sources dropped for good so far in this run.
    uint32_t givenUp = 0;
};

// The task's status: the worker writes the live copy; Flush publishes it as
// the snapshot that interface queries read, so one reading is consistent.
struct TTaskStatus {
    int32_t phase = TASK_PHASE_IDLE;
    int32_t state = 0;
    std::string fileName;
    uint64_t totalSize = 0;
    uint64_t doneBytes = 0;
    int32_t speed = 0;
    int32_t secondsLeft = 0;
    uint64_t httpBytes = 0;
    uint64_t peerBytes = 0;
    uint32_t pieceCount = 0;
    uint32_t piecesDone = 0;
    int64_t diskBytes = 0;
    int32_t fileCount = 0;
    uint32_t runSeconds = 0;
    // Times the data was discarded because a source's file is another
    // version than the one it was begun from.
    uint32_t dataRestarts = 0;
    TBadDataVerdict badData;
    TSourceFailureNote sourceFailure;
};
