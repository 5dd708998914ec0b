#pragma once
#include <cstdint>

class QElement;

// What a torrent needs from the task it belongs to.
class TTorrentOwner {
public:
    // The task's phase: 3 while metainfo is parsed, 4 afterwards.
    virtual void SetMetainfoPhase(int32_t phase) = 0;
    // The local metainfo file cannot be read or holds no bencoded
    // dictionary: the task ends with status 20211 and stops.
    virtual void OnBadLocalTorrent() = 0;
    // Builds the task's file table and pieces from the info dictionary
    // (its data file object, handing over the previous one); false when the
    // dictionary describes no usable files.
    virtual bool BuildFileTable(const QElement &info) = 0;

protected:
    ~TTorrentOwner() = default;
};
