#pragma once
#include <cstdint>

// What a task's data file tells its task. The byte payload travels as a
// pointer, never squeezed into a 32-bit field.
struct TPiecesEvent {
    int32_t code = 0;
    int32_t argument = 0;
    int32_t size = 0;
    int32_t value = 0;          // a piece index or count, for the codes that carry one
    const void *bytes = nullptr; // the payload of the record codes (1000, 1001)
};

enum : int32_t {
    PIECES_EVENT_PIECE_BIT = 1,
    PIECES_EVENT_ALL_BITS = 2,
    PIECES_EVENT_FLUSH = 3,
    PIECES_EVENT_PIECE_COUNT = 100,
    PIECES_EVENT_SELECTION_RECORD = 1000,
    PIECES_EVENT_RESUME_BITS = 1001,
    PIECES_EVENT_DISK_FULL = 1002,
    PIECES_EVENT_SPACE_AGAIN = 1003,
    PIECES_EVENT_OPEN_FAILED = 1004,
};

// The task side of the events; the data file calls it on the task's worker.
class IPiecesEventSink {
public:
    virtual ~IPiecesEventSink() = default;
    virtual void OnDataFileEvent(const TPiecesEvent &event) = 0;
};
