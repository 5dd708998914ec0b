#pragma once
#include <cstdint>
#include <string>
#include <vector>

class QElement;

// The largest piece the store accepts: pieces live in memory whole, and a
// hostile torrent must not make a task allocate gigabytes per piece.
constexpr int32_t kMaxPieceLength = 256 * 1024 * 1024;
constexpr int32_t kBlockLength = 16384;

// What a torrent's info dictionary says about a task's files and pieces,
// checked and with its disk names chosen, before anything touches the disk.
struct TFileTableLayout {
    struct Entry {
        std::string diskPath;
        std::string relativeName;
        int64_t length = 0;
        int64_t offset = 0;
        int32_t firstPiece = 0;
        int32_t pieceCount = 0;
    };

    std::string name;          // the torrent's name in the system code page
    std::string saveDirectory; // ends in '/' unless empty; the torrent's folder cut off when it repeats it
    int32_t pieceLength = 0;
    int32_t pieceCount = 0;
    std::string pieceHashes; // 20 bytes per piece
    int64_t totalLength = 0;
    std::vector<Entry> files;
    // Folders that the torrent lists as zero-length entries; they are created
    // even though no file lands in them.
    std::vector<std::string> directories;
};

// Builds the layout from an info dictionary. A single-file torrent is stored
// at targetPath when that is non-empty, else in the save directory. False,
// with the layout unspecified, for anything the task cannot store safely:
// missing or bad piece fields, a piece length that is no whole number of
// blocks, a malformed file entry, a name or path element that could leave the
// save folder ("", ".", "..", '/', '\\', NUL, or text that does not convert),
// lengths whose sum does not fit, or pieces that do not cover the files.
bool BuildFileTable(const QElement *info, const std::string &saveDirectory, const std::string &targetPath,
                    TFileTableLayout &layout);

// Number of pieces a file of length bytes at stream offset touches.
int32_t FilePieceCount(int64_t offset, int64_t length, int32_t pieceLength);
