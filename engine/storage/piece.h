#pragma once
#include <cstdint>

#include "engine/storage/block_source.h"
#include "engine/storage/block_store.h"
#include "engine/storage/running_sha1.h"

// One piece of a task: its blocks in memory, the part already on disk with
// the running hash over it, and the connection that delivered it.
struct TPiece {
    int32_t index = 0;
    int32_t length = 0;
    // Complete in memory and matched the expected hash; not yet on disk.
    bool verified = false;
    // Belongs only to deselected files.
    bool unwanted = false;
    // Cached result of mapping the piece to files; firstFile -1 until mapped.
    int32_t firstFile = -1;
    int64_t startOffset = 0;
    // Bytes from the piece's start that are on disk and fed to runningHash.
    int32_t flushedPrefix = 0;
    TBlockStore store;
    TRunningSha1 runningHash;
    const uint8_t *expectedHash = nullptr;
    // Engine seconds of the last write into or read from the store.
    int64_t lastAccess = 0;
    IBlockSource *source = nullptr;
    int32_t sourceBytes = 0;

    TPiece() = default;
    ~TPiece() { SetSource(nullptr); }
    TPiece(const TPiece &) = delete;
    TPiece &operator=(const TPiece &) = delete;

    // A new source replaces the old one (whose count restarts); the store
    // holds a reference while a source is set.
    void SetSource(IBlockSource *next)
    {
        if (next == source)
            return;
        if (next != nullptr)
            next->AddSourceReference();
        if (source != nullptr)
            source->ReleaseSourceReference();
        source = next;
        sourceBytes = 0;
    }
};
