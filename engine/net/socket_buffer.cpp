#include "engine/net/socket_buffer.h"

#include <cstring>
#include <limits>

#include "engine/base/engine_buffer_pools.h"

namespace {
// Shrink into a buffer this much larger than the rest when the buffer is at
// least six times the rest and above 4 KiB.
constexpr int32_t kShrinkFloor = 4096;
constexpr int32_t kShrinkRatio = 6;
constexpr int32_t kShrinkSlack = 1024;
// Very large buffers shrink to rest + 10 % once more than this lies unused.
constexpr int64_t kLargeUnused = 2101248;
constexpr int64_t kLargeRestLimit = 21012480;

const uint8_t kEmpty[1] = {0};
} // namespace

QSocketBuffer::QSocketBuffer(int32_t pad) : growthPad(pad) {}

QSocketBuffer::~QSocketBuffer()
{
    Free();
}

const uint8_t *QSocketBuffer::Data() const
{
    return data != nullptr ? data : kEmpty;
}

void QSocketBuffer::MoveInto(int32_t newCapacity, int32_t from)
{
    uint8_t *moved = SocketBufferPool().Get(newCapacity);
    const int32_t kept = length - from;
    if (kept > 0)
        std::memcpy(moved, data + from, static_cast<size_t>(kept));
    SocketBufferPool().Release(data);
    data = moved;
    capacity = newCapacity;
    length = kept;
    data[length] = 0;
}

bool QSocketBuffer::Reserve(int32_t more)
{
    if (more < 0)
        return false;
    if (data != nullptr && capacity - length >= more)
        return true;
    int64_t wanted = static_cast<int64_t>(more) + capacity + growthPad;
    if (wanted >= std::numeric_limits<int32_t>::max())
        return false;
    MoveInto(static_cast<int32_t>(wanted), 0);
    return true;
}

bool QSocketBuffer::Append(const void *bytes, int32_t size)
{
    if (size <= 0)
        return size == 0;
    if (!Reserve(size))
        return false;
    std::memcpy(data + length, bytes, static_cast<size_t>(size));
    length += size;
    data[length] = 0;
    return true;
}

uint8_t *QSocketBuffer::Tail()
{
    return data != nullptr ? data + length : nullptr;
}

void QSocketBuffer::Commit(int32_t size)
{
    if (data == nullptr || size <= 0)
        return;
    if (size > capacity - length)
        size = capacity - length;
    length += size;
    data[length] = 0;
}

void QSocketBuffer::Consume(int32_t count, bool keep)
{
    if (data == nullptr || count <= 0)
        return;
    if (count > length)
        count = length;
    const int32_t rest = length - count;
    if (!keep && rest == 0) {
        Free();
        return;
    }
    int32_t smaller = 0;
    if (!keep && capacity > kShrinkFloor && capacity / rest >= kShrinkRatio)
        smaller = rest + kShrinkSlack;
    else if (!keep && capacity - rest > kLargeUnused && rest < kLargeRestLimit)
        smaller = rest + rest / 10;
    if (smaller > 0) {
        MoveInto(smaller, count);
        return;
    }
    std::memmove(data, data + count, static_cast<size_t>(rest));
    length = rest;
    data[length] = 0;
}

void QSocketBuffer::Free()
{
    SocketBufferPool().Release(data);
    data = nullptr;
    length = 0;
    capacity = 0;
}
