#pragma once
#include <cstdint>

// What a peer asks of its task's meters and limits.
class ITaskMeters {
public:
    // Bytes the task may still read in this second (0: skip reading).
    virtual int32_t DownloadAllowance() = 0;
    virtual int32_t UploadAllowance() = 0;
    // File data delivered to the piece layer.
    virtual void CountPayload(int64_t bytes) = 0;
    // Piece data a BitTorrent connection served.
    virtual void CountUpload(int64_t bytes) = 0;
    // A connection has data waiting to be sent in this round.
    virtual void NoteUploading() = 0;
    // Connections counted by NoteUploading in this round.
    virtual int32_t UploadsThisRound() = 0;
    // Adds delivered bytes to the per-kind totals (HTTP sources, peers).
    virtual void CountKindBytes(int32_t kind, int64_t bytes) = 0;

protected:
    ~ITaskMeters() = default;
};
