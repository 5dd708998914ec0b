// The block spill file of a task's data file: unfinished pieces' bytes in
// memory survive a stop.
#include <algorithm>

#include "engine/base/engine_locks.h"
#include "engine/storage/block_spill.h"
#include "engine/storage/pieces.h"
#include "platform/atomic_replace.h"
#include "platform/crash_point.h"
#include "platform/data_file_paths.h"

namespace {
constexpr size_t kBatchBytes = 1048576;
constexpr size_t kBatchCapacity = 1179648;
constexpr int32_t kBlock = TBlockStore::kBlockLength;

bool WriteLocked(platform::ReplacementFile &out, const std::string &bytes)
{
    QAutoLock lock(DiskLock());
    const bool written = out.Write(bytes.data(), bytes.size());
    platform::CrashPointReached("spill-write");
    return written;
}
} // namespace

bool TPieces::SaveBlockSpill()
{
    if (files.empty() || spillPath.empty() || !hasInfoHash || !piecesSetUp)
        return false;
    if (AllPiecesComplete()) {
        platform::RemoveFile(spillPath);
        return false;
    }
    CreateDirectories(spillPath, false);
    platform::ReplacementFile out;
    if (!out.Begin(spillPath))
        return false;
    std::string batch;
    batch.reserve(kBatchCapacity);
    std::vector<uint8_t> data;
    std::string record;
    int32_t records = 0;
    // The resident set is ordered, so records come in piece order.
    for (int32_t index : resident) {
        const TPiece &piece = pieces[static_cast<size_t>(index)];
        if (Complete(piece) || piece.unwanted)
            continue;
        // Records carry no offset: only the bytes that follow the prefix
        // without a gap can be put back where they belong.
        const int32_t length = piece.store.ContiguousFrom(piece.flushedPrefix);
        if (length <= 0)
            continue;
        data.resize(static_cast<size_t>(length));
        if (!piece.store.Copy(piece.flushedPrefix, length, data.data()))
            continue;
        const size_t framed = kSpillHeaderBytes + data.size();
        if (!batch.empty() && (framed >= kBatchBytes || batch.size() + framed > kBatchCapacity)) {
            if (!WriteLocked(out, batch))
                return false;
            batch.clear();
        }
        if (framed >= kBatchBytes) {
            record.clear();
            AppendSpillRecord(record, index, infoHash.Bytes(), data.data(), data.size());
            if (!WriteLocked(out, record))
                return false;
        } else {
            AppendSpillRecord(batch, index, infoHash.Bytes(), data.data(), data.size());
            if (batch.size() >= kBatchBytes) {
                if (!WriteLocked(out, batch))
                    return false;
                batch.clear();
            }
        }
        ++records;
    }
    if (!batch.empty() && !WriteLocked(out, batch))
        return false;
    if (records == 0) {
        out.Abandon();
        platform::RemoveFile(spillPath);
        return false;
    }
    return out.Commit(true);
}

bool TPieces::LoadBlockSpill()
{
    if (files.empty() || spillPath.empty() || !hasInfoHash || !piecesSetUp)
        return false;
    if (AllPiecesComplete()) {
        platform::RemoveFile(spillPath);
        return false;
    }
    TDiskFile in;
    if (!in.Open(spillPath, true, false))
        return false;
    int64_t position = 0;
    auto read = [&](uint8_t *buffer, int64_t length) {
        QAutoLock lock(DiskLock());
        const int64_t done = in.ReadAt(buffer, length, position);
        if (done > 0)
            position += done;
        return done;
    };
    TBlockSpillReader reader(read, infoHash.Bytes(), pieceLength, pieceCount);
    TSpillRecord record;
    bool applied = false;
    while (reader.Next(record)) {
        TPiece &piece = pieces[static_cast<size_t>(record.piece)];
        if (Complete(piece) || piece.unwanted)
            continue;
        const auto length = static_cast<int64_t>(record.data.size());
        const int32_t prefix = piece.flushedPrefix;
        // Whole blocks after the prefix, the last one possibly the piece's
        // short end; a record from another layout or an older prefix that
        // does not fit resets the piece rather than misplace bytes.
        const bool fits = piece.store.Empty() && prefix + length <= piece.length &&
                          (length % kBlock == 0 || prefix + length == piece.length);
        if (!fits) {
            ResetPiece(piece);
            continue;
        }
        bool stored = true;
        for (int64_t at = 0; at < length && stored; at += kBlock) {
            const auto bytes = static_cast<int32_t>(std::min<int64_t>(kBlock, length - at));
            stored = StoreBlock(piece, prefix + static_cast<int32_t>(at), record.data.data() + at, bytes) == bytes;
        }
        if (!stored) {
            ResetPiece(piece);
            break;
        }
        // Old enough for the next periodic flush to write its beginning.
        piece.lastAccess = 0;
        LeavePartialList(piece.index);
        applied = true;
        // Spilled bytes are trusted no more than fetched ones.
        if (prefix + length == piece.length)
            VerifyPiece(piece, false);
    }
    return applied;
}
