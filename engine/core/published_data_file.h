#pragma once
#include <cstdint>
#include <string>
#include <vector>

// What the interface may know of a task's data file: its identity and file
// table, copied under the task's lock whenever the worker builds or drops a
// data file, so queries never touch the worker's own objects.
struct TPublishedFile {
    // The file's final name, whether or not it is still stored under its
    // temporary one.
    std::string path;
    int64_t length = 0;
    // Position of the file's first byte in the task's data.
    int64_t offset = 0;
};

struct TPublishedDataFile {
    std::string name;
    // 40 lower-case hex digits; empty for a task without metainfo.
    std::string infoHashHex;
    uint64_t totalSize = 0;
    int32_t pieceLength = 0;
    int32_t pieceCount = 0;
    std::vector<TPublishedFile> files;
};
