#pragma once
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "engine/base/qmutex.h"

// A lock-protected pool of byte buffers: released buffers stay on a free list
// for the next request of about the same size. Every buffer is allocated one
// byte longer than asked and ends in a zero byte.
class QBufferPool {
public:
    QBufferPool() = default;
    ~QBufferPool();
    QBufferPool(const QBufferPool &) = delete;
    QBufferPool &operator=(const QBufferPool &) = delete;

    // A buffer of at least size bytes (size < 1 counts as 1): a free one of
    // exactly that size, else the first free one larger by less than
    // min(size, 1024), else a new one.
    uint8_t *Get(int32_t size);
    // Returns a buffer to the free list; unknown pointers are ignored.
    void Release(uint8_t *buffer);
    // Keeps free buffers, in list order, as long as their running total stays
    // within limit; frees the first one that would exceed it and all after.
    void Trim(int64_t limit);
    void Statistics(int64_t &inUseTotal, int64_t &freeTotal);

private:
    struct Entry {
        int32_t size;
        uint8_t *buffer;
    };

    QSMutex guard;
    std::vector<Entry> freeList;
    std::unordered_map<uint8_t *, int32_t> inUse;
    int64_t inUseBytes = 0;
    int64_t freeBytes = 0;
};
