// The resume record of a task's data file: built from the files and pieces
// at a save, checked against the disk and applied at the start.
#include <algorithm>

#include "engine/storage/pieces.h"
#include "engine/storage/resume_record.h"
#include "platform/file_status.h"

bool TPieces::SyncFiles()
{
    bool synced = true;
    for (auto it = unsynced.begin(); it != unsynced.end();) {
        TTaskFile *file = File(*it);
        bool done = file == nullptr;
        if (!done && file->disk.IsOpen()) {
            done = file->disk.SyncData();
        } else if (!done) {
            // A handle closed since the write: the data is synced by path.
            TDiskFile reopened;
            done = reopened.Open(file->diskPath, true, false) && reopened.SyncData();
        }
        if (done) {
            it = unsynced.erase(it);
        } else {
            synced = false;
            ++it;
        }
    }
    return synced;
}

bool TPieces::BuildResumeRecord()
{
    TPiecesEvent cleared;
    cleared.code = PIECES_EVENT_RESUME_BITS;
    cleared.argument = 1;
    if (owner != nullptr)
        owner->OnDataFileEvent(cleared);
    if (!piecesSetUp || files.empty())
        return false;

    TResumeRecordData record;
    std::copy(infoHash.Bytes(), infoHash.Bytes() + TInfoHash::kSize, record.infoHash.begin());
    for (const auto &file : files) {
        if (file->diskPath.empty())
            return false;
        TResumeFileState state;
        state.path = file->diskPath;
        state.priority = file->selection;
        platform::FileStatus status;
        if (platform::QueryRegularFile(file->diskPath, status)) {
            state.timeLow = static_cast<uint32_t>(status.writeTime);
            state.timeHigh = static_cast<uint32_t>(status.writeTime >> 32);
            state.size = static_cast<int64_t>(status.size);
        }
        record.files.push_back(std::move(state));
    }
    for (int32_t i = 0; i < pieceCount; ++i) {
        const TPiece &piece = pieces[static_cast<size_t>(i)];
        if (piece.flushedPrefix <= 0 || !piece.runningHash.Active() || IsPieceComplete(i))
            continue;
        TResumePieceState state;
        state.index = i;
        state.part = piece.flushedPrefix;
        piece.runningHash.ExportImage(state.image.data());
        record.partialPieces.push_back(state);
    }
    record.bitfield.assign(bitfield.begin(), bitfield.end());

    const std::string bytes = EncodeResumeRecord(record);
    TPiecesEvent built;
    built.code = PIECES_EVENT_RESUME_BITS;
    built.argument = 1;
    built.size = static_cast<int32_t>(bytes.size());
    built.bytes = bytes.data();
    if (owner != nullptr)
        owner->OnDataFileEvent(built);
    return true;
}

// Every file must look as it did at the save: the same size when it existed,
// still absent when it did not. Priorities are taken on the way, also when
// a file turns out stale.
bool TPieces::FileStatesCurrent(const TResumeRecordReader &reader)
{
    bool current = true;
    int32_t visited = 0;
    for (auto &file : files) {
        if (file->diskPath.empty())
            break;
        file->disk.Close();
        TResumeFileState recorded;
        bool hasPriority = false;
        if (!reader.FindFile(file->diskPath, file->finalPath, recorded, hasPriority))
            return false;
        if (!pieceHashes.empty() && hasPriority && file->Selected() && recorded.priority >= -2 &&
            recorded.priority <= 2)
            file->selection = recorded.priority;
        const bool untimed = recorded.timeLow == 0 && recorded.timeHigh == 0;
        platform::FileStatus status;
        if (platform::QueryRegularFile(file->diskPath, status))
            current = current && !untimed && static_cast<int64_t>(status.size) == recorded.size;
        else
            current = current && untimed && recorded.size == -1;
        ++visited;
    }
    return current && visited > 0;
}

void TPieces::RestorePartialPieces(const TResumeRecordReader &reader)
{
    for (const TResumePieceState &entry : reader.PieceEntries()) {
        if (entry.index >= pieceCount || IsPieceComplete(entry.index))
            continue;
        TPiece &piece = pieces[static_cast<size_t>(entry.index)];
        if (piece.flushedPrefix > 0)
            continue; // one entry per piece
        const int32_t unit = piece.store.UnitLength();
        // The prefix must be whole units short of the piece, and the image
        // must have hashed exactly that many bytes.
        if (entry.part >= piece.length || entry.part % unit != 0 ||
            ImageBitCount(entry.image.data()) != static_cast<uint64_t>(entry.part) * 8 ||
            !piece.runningHash.ImportImage(entry.image.data())) {
            ResetPiece(piece);
            continue;
        }
        piece.flushedPrefix = entry.part;
        partialPieces.push_back(entry.index);
    }
}

bool TPieces::ReadResumeRecord()
{
    if (spillPath.empty() || resumeInput.empty() || !piecesSetUp)
        return false;
    TResumeRecordReader reader;
    if (!reader.Parse(resumeInput) || !reader.InfoHashMatches(infoHash.Bytes()) || !FileStatesCurrent(reader))
        return false;
    std::string_view recorded;
    if (!reader.BitField(recorded) || recorded.size() != bitfield.size())
        return false;
    verifiedBytes = 0;
    for (int32_t i = 0; i < pieceCount; ++i) {
        const auto byte = static_cast<uint8_t>(recorded[static_cast<size_t>(i / 8)]);
        SetComplete(i, (byte & (0x80 >> (i % 8))) != 0);
    }
    RestorePartialPieces(reader);
    checkedBytes = totalLength;
    LoadBlockSpill();
    Send(PIECES_EVENT_FLUSH, 1, 0, 0);
    return true;
}
