#pragma once
#include <cstdint>
#include <string>

class IBlockSource;

// What a peer asks of its task's piece store.
class ITaskPieceStore {
public:
    // The data file's pieces are set up.
    virtual bool PieceLayerReady() = 0;
    // Bytes of the task's data; 0 while unknown.
    virtual int64_t FileSize() = 0;
    virtual int32_t PieceLength() = 0;
    virtual int32_t PieceCount() = 0;
    virtual bool IsPieceComplete(int32_t piece) = 0;
    virtual bool HasAllPieces() = 0;
    // Bytes of the piece still to fetch, and the piece offset of the first
    // missing byte; 0 when nothing is missing.
    virtual int64_t MissingInPiece(int32_t piece, int64_t *firstMissing) = 0;
    // Stores a block: bytes taken, TPieces::kPieceCorrupt when the completed piece failed its
    // hash, -1 when the block maps to no piece; needed tells whether the
    // piece still wanted the data.
    virtual int32_t WriteBlock(int64_t block, int32_t length, const uint8_t *bytes, IBlockSource *source,
                               bool *needed) = 0;
    // The validator (strong ETag, else Last-Modified) a source's earlier
    // answers carried; empty when none is known.
    virtual std::string SourceValidator(const std::string &url) = 0;
    // Tells the validator of a source's answer. False when the source now
    // serves another version of the file than the task's data came from: the
    // answer must not be used. A task without piece hashes then starts its
    // data again; one with hashes keeps what verified.
    virtual bool CheckSourceVersion(const std::string &url, const std::string &validator) = 0;

protected:
    ~ITaskPieceStore() = default;
};
