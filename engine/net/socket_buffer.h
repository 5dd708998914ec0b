#pragma once
#include <cstdint>

// An owned byte buffer of a QSocket, taken from the socket buffer pool. It is
// always one byte longer than its capacity and zero-terminated at its length,
// so text protocols can search it as a C string. It grows when data does not
// fit and shrinks when consuming leaves it mostly empty.
class QSocketBuffer {
public:
    // growthPad: extra room added whenever the buffer grows.
    explicit QSocketBuffer(int32_t growthPad);
    ~QSocketBuffer();
    QSocketBuffer(const QSocketBuffer &) = delete;
    QSocketBuffer &operator=(const QSocketBuffer &) = delete;

    // The content; an empty zero-terminated text when nothing is allocated.
    const uint8_t *Data() const;
    const char *Text() const { return reinterpret_cast<const char *>(Data()); }
    int32_t Length() const { return length; }
    int32_t Capacity() const { return capacity; }

    // Makes room for more bytes behind the content; when they do not fit, the
    // capacity becomes more + capacity + the growth pad. False when that size
    // cannot be represented.
    bool Reserve(int32_t more);
    bool Append(const void *data, int32_t size);
    // Room behind the content for a direct read, then Commit of what arrived.
    uint8_t *Tail();
    void Commit(int32_t size);

    // Drops count bytes from the front. With keep the rest only moves down;
    // otherwise an emptied buffer goes back to the pool, and a mostly empty
    // one moves into a smaller buffer.
    void Consume(int32_t count, bool keep);
    // Gives the memory back to the pool; length and capacity become 0.
    void Free();

private:
    // Moves the content from offset from on into a new buffer of newCapacity.
    void MoveInto(int32_t newCapacity, int32_t from);

    uint8_t *data = nullptr;
    int32_t length = 0;
    int32_t capacity = 0;
    const int32_t growthPad;
};
