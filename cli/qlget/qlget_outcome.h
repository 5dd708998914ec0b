#pragma once
// How a qlget run ends: the exit status and the message for each way.
#include <cstdint>
#include <string>

enum TQlgetExit : int {
    QLGET_COMPLETE = 0,
    QLGET_BAD_ARGUMENTS = 2,
    QLGET_OUTPUT_EXISTS = 3,
    QLGET_ENGINE_REFUSED = 4,
    QLGET_SIZE_UNKNOWN = 10,
    QLGET_DISK_FULL = 11,
    QLGET_BAD_TORRENT = 12,
    QLGET_NO_SOURCE = 13,
    QLGET_FILE_OPEN_FAILED = 14,
    QLGET_HOST_NOT_FOUND = 15,
    QLGET_STALLED = 16,
    QLGET_NOT_RENAMED = 17,
    QLGET_OUTPUT_IN_USE = 18,
    QLGET_DATA_MISMATCH = 19,
};

struct TQlgetOutcome {
    int exitCode;
    std::string message;
};

// The outcome of a task whose worker stopped on its own before completing,
// from the task's state code (0 when it stopped without one).
TQlgetOutcome OutcomeOfStoppedTask(int32_t state);

// The disk-full outcome, naming the folder and the bytes that did not fit:
// the file's size less what its partial file already holds and the free
// space (fileBytes 0: the size is unknown, so only the free space is told).
TQlgetOutcome DiskFullOutcome(const std::string &folder, uint64_t fileBytes, uint64_t heldBytes, uint64_t freeBytes);

// The outcome of a task whose sources all sent data that fails the torrent's
// hashes: the server and the piece that failed most often from it.
TQlgetOutcome DataMismatchOutcome(const std::string &host, int32_t piece, int32_t failures);

// True for a state code that ends the download even while the worker still
// runs (the worker stops itself right after setting it).
bool IsFinalFailureState(int32_t state);
