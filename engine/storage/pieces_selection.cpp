// Selecting and deselecting files: which pieces stay wanted.
#include <algorithm>

#include "engine/storage/pieces.h"

namespace {

// Whether every other file of positive length that shares the piece
// [pieceStart, pieceEnd) on one side of the file at index is deselected.
bool SharersDeselected(const std::vector<std::unique_ptr<TTaskFile>> &files, int32_t index, int64_t pieceStart,
                       int64_t pieceEnd, int step)
{
    for (int32_t i = index + step; i >= 0 && i < static_cast<int32_t>(files.size()); i += step) {
        const TTaskFile &other = *files[static_cast<size_t>(i)];
        if (other.length == 0)
            continue;
        if (other.End() <= pieceStart || other.offset >= pieceEnd)
            break;
        if (other.Selected())
            return false;
    }
    return true;
}

} // namespace

bool TPieces::SelectFile(int32_t index, bool skip)
{
    TTaskFile *file = File(index);
    if (file == nullptr || file->length < 0)
        return false;
    if (skip != file->Selected())
        return true; // already in the requested state
    file->selection = skip ? kFileDeselected : 0;
    if (skip)
        file->disk.Close();
    if (file->length == 0 || !piecesSetUp)
        return true;

    const int32_t first = file->firstPiece;
    const auto last = static_cast<int32_t>((file->End() - 1) / pieceLength);
    int32_t changed = 0;
    for (int32_t k = first; k <= last; ++k) {
        const int64_t pieceStart = static_cast<int64_t>(k) * pieceLength;
        const int64_t pieceEnd = std::min(pieceStart + pieceLength, totalLength);
        // A piece shared with a file that stays selected stays wanted.
        if (skip && pieceStart < file->offset && !SharersDeselected(files, index, pieceStart, pieceEnd, -1))
            continue;
        if (skip && pieceEnd > file->End() && !SharersDeselected(files, index, pieceStart, pieceEnd, 1))
            continue;
        TPiece &piece = pieces[static_cast<size_t>(k)];
        // Only real changes move the counters.
        if (piece.unwanted == skip)
            continue;
        piece.unwanted = skip;
        ++changed;
        if (CheckFinished() && !IsPieceComplete(k))
            doneOrUnwanted += skip ? 1 : -1;
    }

    // While deselected, the file kept its tail piece's bytes compactly after
    // its head; back at full size that tail is not where the piece says, so
    // unless the file was whole before, the tail piece is fetched again.
    if (!skip && index != FileCount() - 1 && file->End() % pieceLength != 0 && last > 0 &&
        IsPieceComplete(last) && !IsPieceComplete(last - 1))
        SetComplete(last, false);

    if (skip) {
        if (wantedBytes >= file->length)
            wantedBytes -= file->length;
        wantedPieces -= changed;
    } else {
        if (wantedBytes < totalLength)
            wantedBytes += file->length;
        wantedPieces += changed;
    }
    wantedBytes = std::clamp<int64_t>(wantedBytes, 0, totalLength);
    wantedPieces = std::clamp<int64_t>(wantedPieces, 0, pieceCount);
    doneOrUnwanted = std::clamp(doneOrUnwanted, 0, pieceCount);
    return true;
}
