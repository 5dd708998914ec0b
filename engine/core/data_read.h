#pragma once
#include <cstdint>

// A reader's request for bytes of a task's data. The reader registers it with
// the task and waits; the worker fills the reader's buffer and sets done,
// under the task's own lock, so a reader that gave up is never written to.
struct TDataRead {
    int64_t offset = 0;
    uint8_t *buffer = nullptr;
    int32_t length = 0;
    // Tells a read from a later one that took its place in memory.
    uint64_t serial = 0;
    // Tick count at registration; the wait is measured from it.
    uint32_t since = 0;
    bool done = false;
    // Bytes read, or a status code.
    int32_t result = 0;
};
