// The start-up check of a task's data file: what of the files on disk counts
// as complete before any data is fetched.
#include <algorithm>
#include <cstring>

#include "engine/storage/pieces.h"
#include "platform/crash_point.h"
#include "platform/file_status.h"

namespace {
constexpr int32_t kBlock = TBlockStore::kBlockLength;
constexpr int32_t kStopPollPieces = 10;
constexpr int32_t kStopPollFiles = 100;
} // namespace

bool TPieces::StartupCheck(TPieces *previous)
{
    Send(PIECES_EVENT_FLUSH, 1, 0, 0);
    if (previous != nullptr && TakeOver(*previous))
        return !StopRequested();
    if (storeMode) {
        if (!StopRequested() && !FastCheck() && !pieceHashes.empty())
            FullCheck();
    } else if (!ReadResumeRecord()) {
        if (!pieceHashes.empty()) {
            FullCheck();
        } else {
            // Nothing to check against: everything is fetched again.
            CloseFiles(false);
            verifiedBytes = 0;
        }
    }
    return !StopRequested();
}

// A table rebuilt over the same files (same count and total) takes the old
// table's complete data block by block, each new piece verified as it fills.
bool TPieces::TakeOver(TPieces &previous)
{
    if (!previous.PiecesSetUp() || previous.FileCount() != FileCount() || previous.TotalLength() != totalLength ||
        pieceLength % kBlock != 0)
        return false;
    if (previous.PieceLength() == pieceLength && previous.pieceHashes == pieceHashes) {
        // The same pieces over the same files: their state carries over.
        previous.FlushVerified();
        uint8_t image[TRunningSha1::kImageSize];
        for (int32_t i = 0; i < pieceCount; ++i) {
            const TPiece &before = previous.pieces[static_cast<size_t>(i)];
            TPiece &piece = pieces[static_cast<size_t>(i)];
            if (previous.IsPieceComplete(i)) {
                SetComplete(i, true);
            } else if (before.flushedPrefix > 0 && before.runningHash.ExportImage(image) &&
                       piece.runningHash.ImportImage(image)) {
                piece.flushedPrefix = before.flushedPrefix;
                partialPieces.push_back(i);
            }
        }
        previous.CloseFiles(false);
        return true;
    }
    std::vector<uint8_t> block(kBlock);
    const int64_t blocks = (totalLength + kBlock - 1) / kBlock;
    for (int64_t b = 0; b < blocks; ++b) {
        if (b % 64 == 0 && StopRequested())
            break;
        const auto length = static_cast<int32_t>(std::min<int64_t>(kBlock, totalLength - b * kBlock));
        if (previous.ReadBlock(b, length, block.data(), 0, false) != length)
            continue;
        WriteBlock(b, length, block.data(), nullptr);
    }
    FlushVerified();
    previous.CloseFiles(false);
    return true;
}

bool TPieces::PieceOnDiskMatches(int32_t index)
{
    if (index < 0 || index >= pieceCount)
        return false;
    const TPiece &piece = pieces[static_cast<size_t>(index)];
    if (scratch.size() < static_cast<size_t>(pieceLength))
        scratch.resize(static_cast<size_t>(pieceLength));
    checkingFiles = true;
    const int64_t read = ReadPieceRange(index, scratch.data(), piece.length, 0);
    checkingFiles = false;
    if (read != piece.length)
        return false;
    if (piece.expectedHash == nullptr)
        return true;
    TRunningSha1 hash;
    hash.Update(scratch.data(), static_cast<size_t>(piece.length));
    uint8_t digest[TRunningSha1::kDigestSize];
    hash.Finish(digest);
    return std::memcmp(digest, piece.expectedHash, sizeof(digest)) == 0;
}

void TPieces::FullCheck()
{
    verifiedBytes = 0;
    checkedBytes = 0;
    for (int32_t i = 0; i < pieceCount; ++i) {
        if (i % kStopPollPieces == 0 && StopRequested())
            break;
        // Pieces over a missing or short file fail and stay missing.
        SetComplete(i, PieceOnDiskMatches(i));
        checkedBytes = std::min<int64_t>(totalLength, static_cast<int64_t>(i + 1) * pieceLength);
        platform::CrashPointReached("full-check");
    }
    CloseFiles(false);
}

void TPieces::MarkAllComplete()
{
    std::fill(bitfield.begin(), bitfield.end(), 0xFF);
    if (pieceCount % 8 != 0)
        bitfield.back() = static_cast<uint8_t>(0xFF << (8 - pieceCount % 8));
    completePieces = pieceCount;
    verifiedBytes = totalLength;
    checkedBytes = totalLength;
    doneOrUnwanted = pieceCount;
    lastCompleted = pieceCount - 1;
}

bool TPieces::FastCheck()
{
    verifiedBytes = 0;
    checkedBytes = 0;
    int32_t visited = 0;
    for (const auto &file : files) {
        if (++visited % kStopPollFiles == 0 && StopRequested())
            return false;
        if (file->length <= 0)
            continue;
        platform::FileStatus status;
        if (!platform::QueryRegularFile(file->diskPath, status) || static_cast<int64_t>(status.size) != file->length)
            return false;
    }
    // Sizes alone do not prove content: three samples must verify.
    const int32_t samples[] = {0, pieceCount - 1, pieceCount / 2};
    for (int32_t index : samples) {
        if (!PieceOnDiskMatches(index)) {
            CloseFiles(false);
            return false;
        }
    }
    MarkAllComplete();
    Send(PIECES_EVENT_ALL_BITS, 1, 0, 0);
    CloseFiles(false);
    return true;
}
