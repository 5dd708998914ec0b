#pragma once
#include <cstdint>

#include "engine/base/buffer_pool.h"

// The engine's process-wide buffer pools. They live for the whole process, so
// a buffer released late never finds its pool gone.
QBufferPool &SocketBufferPool();     // every QSocket send and receive buffer
QBufferPool &BlockBufferPool();      // 16 KiB data blocks of the piece layer
QBufferPool &LargeBlockBufferPool(); // 128 KiB data blocks of the piece store
QBufferPool &RecordBufferPool();     // small engine records

// A pool that holds more than 1 MiB while less than percentInUse of it is in
// use keeps free buffers worth only one fifth of the bytes in use. True when
// it trimmed.
bool TrimSparsePool(QBufferPool &pool, int percentInUse);

// The task's periodic trim (every 8 s): the block pool below 15 % use and the
// socket pool below 35 %; with withRecordPool (every fourth time) the record
// pool is also cut to 256 KiB.
void TrimEngineBufferPools(bool withRecordPool);

// The pools' part of the trim when a task's run ends: as above, the record
// pool down to 10 KiB and the large block pool to 2 MiB.
void TrimBufferPoolsAtRunEnd();
