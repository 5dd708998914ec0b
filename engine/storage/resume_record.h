#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/storage/running_sha1.h"

class QElement;

// The resume record: the state of a task's files and pieces at a save, in
// the bencoded form of the task state file's "bits" value. Elements whose
// integer is 0 are written as bare keys.
struct TResumeFileState {
    std::string path; // the disk path at saving, temporary name included
    uint32_t timeLow = 0;
    uint32_t timeHigh = 0;
    int64_t size = -1; // -1 when the file could not be opened
    int32_t priority = 0;
};

struct TResumePieceState {
    int32_t index = 0;
    int32_t part = 0; // bytes on disk from the piece's start, fed to the hash
    std::array<uint8_t, TRunningSha1::kImageSize> image{};
};

struct TResumeRecordData {
    std::array<uint8_t, 20> infoHash{};
    std::vector<TResumeFileState> files;
    std::vector<TResumePieceState> partialPieces;
    std::string bitfield;
};

std::string EncodeResumeRecord(const TResumeRecordData &record);

// The checksum of a partial-piece entry: Adler-32 of the context image
// started from the piece index.
uint32_t ResumeEntryChecksum(int32_t index, const uint8_t *image);

// The message length in bits that a context image states.
uint64_t ImageBitCount(const uint8_t *image);

// Read access to a parsed record. Everything found is checked against the
// bytes' bounds; what the record claims about the table is for the caller
// to judge.
class TResumeRecordReader {
public:
    TResumeRecordReader();
    ~TResumeRecordReader();

    // False when the bytes are empty or no dictionary.
    bool Parse(const std::string &bytes);
    // False when the record names a 20-byte info hash other than this one
    // (a missing or shorter value is not checked).
    bool InfoHashMatches(const uint8_t *infoHash) const;
    // The group of a file, looked up under path and then under otherPath
    // (when non-empty). False when neither is there or the group does not
    // go on with "Low", "High" and "Size". hasPriority tells whether
    // "Priority" follows.
    bool FindFile(const std::string &path, const std::string &otherPath, TResumeFileState &out,
                  bool &hasPriority) const;
    // The bitfield bytes; false when "BitField" has no string after it.
    bool BitField(std::string_view &out) const;
    // The "PieceStatus" entries whose form is sound: "Index", then "Part" >
    // 0, then "Status" with at least 104 bytes, and a "CRC32" that matches
    // the image for that index. In record order.
    std::vector<TResumePieceState> PieceEntries() const;

private:
    const QElement *After(const QElement *element) const;

    std::string text;
    std::unique_ptr<QElement> root;
};
