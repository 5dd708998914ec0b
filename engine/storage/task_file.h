#pragma once
#include <cstdint>
#include <string>

#include "engine/storage/disk_file.h"

// The selection value of a file the user skipped; every value above it counts
// as selected (-2 … 2 are priorities kept for the resume record).
constexpr int32_t kFileDeselected = -3;

// Appended to a file's final name while it is being downloaded.
inline constexpr const char kTemporarySuffix[] = ".qltmp";

// One file of a task's byte stream, in the order the metainfo gives them.
struct TTaskFile {
    TDiskFile disk;
    int32_t selection = 0;
    int32_t index = 0;
    // Where the file is stored now.
    std::string diskPath;
    // The name inside the torrent, elements joined by backslashes: the key of
    // the file in the resume and selection records.
    std::string relativeName;
    // Non-empty while the file lives under its temporary name.
    std::string finalPath;
    bool temporaryName = false;
    int64_t length = 0;
    // Position of the file's first byte in the task's byte stream.
    int64_t offset = 0;
    int32_t firstPiece = 0;
    int32_t pieceCount = 0;

    bool Selected() const { return selection > kFileDeselected; }
    int64_t End() const { return offset + length; }
};
