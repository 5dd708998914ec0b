// Reads of a task's data by a front-end: the reader registers its request
// and polls; the worker serves it between the rounds of its loop, because
// only the worker may touch the data file. A read that waits makes its
// piece the scheduler's focus, so the connections fetch that piece first.
#include <algorithm>
#include <cstring>

#include "engine/core/work_thread.h"
#include "platform/tick.h"

namespace {
constexpr uint32_t kReadPollMs = 5;
// Most bytes served to one read at once: the worker reads them within a
// round, which must stay short.
constexpr int64_t kMaxServedBytes = 1 << 20;

// A read whose offset alone decides the answer, against data of total bytes
// (0 while the size is unknown): 0 at the end, an invalid argument past it.
bool SettledByPlace(int64_t offset, uint64_t total, int32_t &result)
{
    if (total == 0 || static_cast<uint64_t>(offset) < total)
        return false;
    result = static_cast<uint64_t>(offset) == total ? 0 : ENGINE_INVALID_ARGUMENT;
    return true;
}
} // namespace

void TWorkThread::BeginRead(TDataRead &read)
{
    QAutoLock hold(OwnLock());
    if (SettledByPlace(read.offset, snapshot.totalSize, read.result)) {
        read.done = true;
        return;
    }
    read.serial = ++lastReadSerial;
    read.since = platform::TickCount();
    reads.push_back(&read);
    ++readCount;
}

int32_t TWorkThread::ReadData(TDataRead &read)
{
    bool listed = false;
    for (;;) {
        {
            QAutoLock hold(OwnLock());
            bool settled = read.done;
            if (!settled && (StopRequested() || !IsRunning())) {
                read.result = ENGINE_READ_STOPPED;
                settled = true;
            } else if (!settled && platform::TickCount() - read.since >= kEngineReadWaitMs) {
                read.result = ENGINE_READ_TIMED_OUT;
                settled = true;
            }
            if (settled) {
                auto found = std::find(reads.begin(), reads.end(), &read);
                listed = found != reads.end();
                if (listed)
                    reads.erase(found);
                break;
            }
        }
        platform::SleepMs(kReadPollMs);
    }
    // The last touch of this object, after the lock is released: once the
    // count is down the task may be destroyed.
    if (listed)
        --readCount;
    return read.result;
}

void TWorkThread::ServeReads()
{
    if (readCount.load() == 0) {
        SetFocusPiece(-1);
        return;
    }
    struct TWanted {
        uint64_t serial;
        int64_t offset;
        int32_t length;
    };
    std::vector<TWanted> wanted;
    {
        QAutoLock hold(OwnLock());
        for (const TDataRead *read : reads) {
            if (!read->done)
                wanted.push_back({read->serial, read->offset, read->length});
        }
    }
    // Until the size is known no read can be placed, nor a focus chosen.
    const int64_t total = FileSize();
    if (total <= 0)
        return;
    int32_t focus = -1;
    for (const TWanted &want : wanted) {
        int32_t result = 0;
        int64_t got = 0;
        if (!SettledByPlace(want.offset, static_cast<uint64_t>(total), result)) {
            const int64_t length = std::min<int64_t>(want.length, kMaxServedBytes);
            if (readScratch.size() < static_cast<size_t>(length))
                readScratch.resize(static_cast<size_t>(length));
            got = ReadPresent(want.offset, readScratch.data(), length);
            if (got == 0) {
                // The oldest waiting read decides where the connections go.
                if (focus < 0)
                    focus = static_cast<int32_t>(want.offset / PieceLength());
                continue;
            }
            result = got < 0 ? ENGINE_TASK_FAILED : static_cast<int32_t>(got);
        }
        QAutoLock hold(OwnLock());
        for (TDataRead *read : reads) {
            if (read->serial != want.serial || read->done)
                continue;
            if (got > 0)
                std::memcpy(read->buffer, readScratch.data(), static_cast<size_t>(got));
            read->result = result;
            read->done = true;
        }
    }
    SetFocusPiece(focus);
}

void TWorkThread::WaitForReaders()
{
    while (readCount.load() > 0)
        platform::SleepMs(kReadPollMs);
}
