// The piece store: blocks into memory, SHA-1 verification, writing pieces
// out, and reading them back for uploads.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "engine/base/engine_clock.h"
#include "engine/storage/pieces.h"

namespace {
constexpr int32_t kBlock = TBlockStore::kBlockLength;
// A verified piece looks older than any read so it is the first to leave
// the cache once written.
constexpr int64_t kVerifiedAge = 1805;
constexpr int64_t kReadAge = 1800;
constexpr int64_t kDefaultReadAhead = 65536;
constexpr int64_t kReadAheadPerHintBlock = 98304;
constexpr const char kCorruptPieceEvent[] = "11500102";

int64_t Now()
{
    return EngineSeconds();
}

std::string AddressText(uint32_t networkOrder, uint16_t port)
{
    uint8_t octets[4];
    std::memcpy(octets, &networkOrder, sizeof(octets));
    char text[32];
    std::snprintf(text, sizeof(text), "%d.%d.%d.%d : %d", octets[0], octets[1], octets[2], octets[3], port);
    return text;
}
} // namespace

TPiece *TPieces::PieceOfBlock(int64_t block, int32_t &offset) const
{
    if (!piecesSetUp || block < 0 || block > (totalLength - 1) / kBlock)
        return nullptr;
    const int64_t at = block * kBlock;
    offset = static_cast<int32_t>(at % pieceLength);
    return &pieces[static_cast<size_t>(at / pieceLength)];
}

int32_t TPieces::StoreBlock(TPiece &piece, int32_t offset, const uint8_t *bytes, int32_t length)
{
    const int32_t added = piece.store.Put(offset, bytes, length);
    if (added <= 0)
        return added;
    cacheBytes += added;
    if (piece.verified)
        verifiedInMemory += added;
    resident.insert(piece.index);
    return added;
}

void TPieces::SetVerified(TPiece &piece, bool verified)
{
    if (piece.verified == verified)
        return;
    piece.verified = verified;
    verifiedInMemory += verified ? piece.store.PresentBytes() : -piece.store.PresentBytes();
}

void TPieces::ForgetBlocks(TPiece &piece)
{
    SetVerified(piece, false);
    cacheBytes -= piece.store.Clear();
    resident.erase(piece.index);
}

void TPieces::ForgetBlocksBelow(TPiece &piece, int32_t offset)
{
    const int32_t forgotten = piece.store.ReleaseUnitsBelow(offset);
    cacheBytes -= forgotten;
    if (piece.verified)
        verifiedInMemory -= forgotten;
    if (piece.store.Empty())
        resident.erase(piece.index);
}

// The running hash goes with the prefix it covers: a restored beginning
// never survives a reset to vouch for bytes fetched later.
void TPieces::ResetPiece(TPiece &piece)
{
    ForgetBlocks(piece);
    piece.runningHash.Release();
    if (piece.flushedPrefix > 0 && !spillPath.empty())
        unvouched.insert(piece.index);
    piece.flushedPrefix = 0;
    piece.SetSource(nullptr);
    LeavePartialList(piece.index);
}

void TPieces::LeavePartialList(int32_t index)
{
    std::erase(partialPieces, index);
}

void TPieces::ReportCorruptPiece(const TPiece &piece)
{
    if (piece.source == nullptr || piece.source->SourceKind() != PEER_KIND_BT || !corruptReporter)
        return;
    TCorruptPieceReport report;
    report.eventCode = kCorruptPieceEvent;
    report.serverIp = AddressText(piece.source->SourceAddress(), piece.source->SourcePort());
    report.pieceIndex = piece.index;
    report.fileName = targetPath;
    corruptReporter(report);
}

// The piece is whole in memory from its flushed prefix on; the hash continues
// from the state over the prefix. A mismatch resets the piece (its prefix on
// disk included) and blames its source.
bool TPieces::VerifyPiece(TPiece &piece, bool report)
{
    if (piece.expectedHash == nullptr) {
        // A table without hashes has nothing to check against.
        piece.runningHash.Release();
        if (piece.source != nullptr)
            piece.source->ClearBadPieces();
        SetVerified(piece, true);
        piece.lastAccess = Now() - kVerifiedAge;
        return true;
    }
    TBlockStore &store = piece.store;
    for (int32_t unit = piece.flushedPrefix / store.UnitLength(); unit < store.UnitCount(); ++unit) {
        const int32_t skip = std::max(piece.flushedPrefix - unit * store.UnitLength(), 0);
        piece.runningHash.Update(store.Unit(unit) + skip, static_cast<size_t>(store.UnitBytes(unit) - skip));
    }
    uint8_t digest[TRunningSha1::kDigestSize];
    piece.runningHash.Finish(digest);
    if (std::memcmp(digest, piece.expectedHash, sizeof(digest)) == 0) {
        if (piece.source != nullptr)
            piece.source->ClearBadPieces();
        SetVerified(piece, true);
        piece.lastAccess = Now() - kVerifiedAge;
        return true;
    }
    if (report)
        ReportCorruptPiece(piece);
    if (piece.source != nullptr && piece.sourceBytes >= piece.length) {
        piece.source->CountWholePiece();
        const int32_t kind = piece.source->SourceKind();
        if (kind == PEER_KIND_HTTP || kind == PEER_KIND_FTP)
            piece.source->CountBadPiece(piece.index);
    }
    ResetPiece(piece);
    return false;
}

int32_t TPieces::WriteBlock(int64_t block, int32_t length, const uint8_t *bytes, IBlockSource *source, bool *needed)
{
    if (needed != nullptr)
        *needed = false;
    int32_t offset = 0;
    TPiece *piece = PieceOfBlock(block, offset);
    if (piece == nullptr || bytes == nullptr)
        return -1;
    // Only whole blocks are taken: a partial one marked present would hold
    // bytes nobody delivered.
    const int32_t blockBytes = std::min(kBlock, piece->length - offset);
    if (length < blockBytes)
        return -1;
    if (!IsNeeded(piece->index))
        return length;
    if (needed != nullptr)
        *needed = true;
    piece->SetSource(source);
    if (offset < piece->flushedPrefix)
        return length; // already on disk
    piece->lastAccess = Now();
    piece->sourceBytes += std::max(StoreBlock(*piece, offset, bytes, blockBytes), 0);
    if (!piece->store.HasRange(piece->flushedPrefix, piece->length - piece->flushedPrefix))
        return length;
    if (!VerifyPiece(*piece, true))
        return kPieceCorrupt;
    // Written out now rather than at the next housekeeping, so that a fast
    // source cannot push the cache past its budget in between.
    if (VerifiedCacheFull())
        FlushVerified();
    return length;
}

int64_t TPieces::WriteUnits(TPiece &piece, int32_t from, int32_t to)
{
    const TBlockStore &store = piece.store;
    int64_t written = 0;
    for (int32_t at = from; at < to;) {
        const int32_t unit = at / store.UnitLength();
        const int32_t inUnit = at - unit * store.UnitLength();
        const int32_t bytes = std::min(store.UnitBytes(unit) - inUnit, to - at);
        const int64_t done = WritePieceRange(piece.index, store.Unit(unit) + inUnit, bytes, at);
        if (done != bytes)
            return done < 0 ? done : written + done;
        written += bytes;
        at += bytes;
    }
    return written;
}

int32_t TPieces::FlushPrefix(int32_t index, int32_t minimum)
{
    if (!piecesSetUp || index < 0 || index >= pieceCount)
        return 0;
    TPiece &piece = pieces[static_cast<size_t>(index)];
    // A record on disk may still hold the hash of this piece's old
    // beginning; new bytes there wait until a newer record is saved.
    if (Complete(piece) || piece.store.Empty() || unvouched.count(index) != 0)
        return 0;
    const int32_t contiguous = piece.store.ContiguousFrom(piece.flushedPrefix);
    if (piece.flushedPrefix + contiguous >= piece.length)
        return VerifyPiece(piece, false) ? 0 : kPieceCorrupt;
    const int32_t unitLength = piece.store.UnitLength();
    const int32_t bytes = contiguous / unitLength * unitLength;
    if (bytes == 0 || bytes < minimum)
        return 0;
    const int64_t written = WriteUnits(piece, piece.flushedPrefix, piece.flushedPrefix + bytes);
    if (written != bytes) {
        // Refetched later; on a full disk the task stops and the blocks stay.
        if (written != kWriteNoSpace)
            ForgetBlocks(piece);
        return 0;
    }
    for (int32_t at = piece.flushedPrefix; at < piece.flushedPrefix + bytes; at += unitLength)
        piece.runningHash.Update(piece.store.Unit(at / unitLength), static_cast<size_t>(unitLength));
    ForgetBlocksBelow(piece, piece.flushedPrefix + bytes);
    piece.flushedPrefix += bytes;
    return bytes;
}

int32_t TPieces::FinishPiece(int32_t index)
{
    if (!piecesSetUp || index < 0 || index >= pieceCount)
        return 0;
    TPiece &piece = pieces[static_cast<size_t>(index)];
    if (!piece.verified)
        return 0;
    const int64_t written = WriteUnits(piece, piece.flushedPrefix, piece.length);
    if (written != piece.length - piece.flushedPrefix) {
        // On a full disk the verified bytes stay in memory while the task
        // stops; any other failure loses them and they are fetched again.
        if (written != kWriteNoSpace)
            ResetPiece(piece);
        return static_cast<int32_t>(std::max<int64_t>(written, 0));
    }
    SetComplete(index, true);
    if (piece.source != nullptr && piece.sourceBytes >= piece.length)
        piece.source->CountWholePiece();
    ResetPiece(piece);
    return piece.length;
}

void TPieces::FlushVerified()
{
    const std::vector<int32_t> held(resident.begin(), resident.end());
    for (int32_t index : held) {
        if (pieces[static_cast<size_t>(index)].verified)
            FinishPiece(index);
    }
}

bool TPieces::HasBlock(int64_t block) const
{
    int32_t offset = 0;
    const TPiece *piece = PieceOfBlock(block, offset);
    if (piece == nullptr)
        return false;
    return Complete(*piece) || offset < piece->flushedPrefix || piece->store.Has(offset);
}

int32_t TPieces::InMemory(int32_t index) const
{
    if (!piecesSetUp || index < 0 || index >= pieceCount)
        return 0;
    return pieces[static_cast<size_t>(index)].store.PresentBytes();
}

void TPieces::DropPiece(int32_t index)
{
    if (!piecesSetUp || index < 0 || index >= pieceCount)
        return;
    TPiece &piece = pieces[static_cast<size_t>(index)];
    if (!Complete(piece))
        ResetPiece(piece);
}

// The read-ahead window from the block holding offset: the request plus 64
// KiB (or 96 KiB per block of hint), cut to 64 KiB when the rest is in
// memory, and never past what the disk holds for this piece.
int64_t TPieces::ReadStream(int64_t offset, uint8_t *buffer, int64_t length)
{
    if (!piecesSetUp || buffer == nullptr || offset < 0 || length < 0 || offset > totalLength)
        return -1;
    length = std::min(length, totalLength - offset);
    // ReadBlock reads from a block's start, so a read inside a block comes
    // through this scratch block.
    uint8_t block[kBlock];
    int64_t copied = 0;
    while (copied < length) {
        const int64_t at = offset + copied;
        if (!Complete(pieces[static_cast<size_t>(at / pieceLength)]))
            break;
        const auto within = static_cast<int32_t>(at % kBlock);
        const auto wanted = static_cast<int32_t>(std::min<int64_t>(kBlock - within, length - copied));
        const int32_t read = ReadBlock(at / kBlock, within + wanted, block, 0, false);
        if (read < 0)
            return -1;
        if (read <= within)
            break;
        std::memcpy(buffer + copied, block + within, static_cast<size_t>(read - within));
        copied += read - within;
    }
    return copied;
}

int32_t TPieces::ReadWindow(const TPiece &piece, int32_t offset, int32_t length, int32_t hint, int32_t diskLimit) const
{
    const int32_t start = offset / kBlock * kBlock;
    const int64_t hinted = static_cast<int64_t>(std::max(hint, 0) / kBlock) * kReadAheadPerHintBlock;
    const int64_t ahead = hinted > 0 ? hinted : kDefaultReadAhead;
    int64_t window = (length + offset % kBlock + ahead) / kBlock * kBlock;
    const int64_t inPiece = piece.length - start;
    if (window > kDefaultReadAhead && inPiece > kDefaultReadAhead &&
        piece.store.HasRange(start + static_cast<int32_t>(kDefaultReadAhead),
                             static_cast<int32_t>(std::min(window, inPiece) - kDefaultReadAhead)))
        window = kDefaultReadAhead;
    window = std::min({window, inPiece, static_cast<int64_t>(diskLimit) - start});
    return static_cast<int32_t>(std::max<int64_t>(window, 0));
}

int32_t TPieces::ReadBlock(int64_t block, int32_t length, uint8_t *buffer, int32_t readAheadHint,
                           bool mayReadIncomplete)
{
    int32_t offset = 0;
    TPiece *found = PieceOfBlock(block, offset);
    if (found == nullptr || buffer == nullptr || length <= 0)
        return -1;
    TPiece &piece = *found;
    if (!Complete(piece) && !mayReadIncomplete)
        return -1;
    ++readCount;
    length = std::min(length, piece.length - offset);
    if (piece.store.Copy(offset, length, buffer)) {
        piece.lastAccess = Now() - kReadAge;
        ++readHitCount;
        return length;
    }
    // Only bytes that are on disk (the whole piece once complete there, else
    // its hashed prefix) are ever read back.
    const int32_t diskLimit = IsPieceComplete(piece.index) ? piece.length : piece.flushedPrefix;
    for (int32_t at = offset / kBlock * kBlock; at < offset + length; at += kBlock) {
        if (!piece.store.Has(at) && std::min(at + kBlock, piece.length) > diskLimit)
            return 0;
    }
    const int32_t start = offset / kBlock * kBlock;
    const int32_t window = ReadWindow(piece, offset, length, readAheadHint, diskLimit);
    if (scratch.size() < static_cast<size_t>(pieceLength))
        scratch.resize(static_cast<size_t>(pieceLength));
    if (ReadPieceRange(piece.index, scratch.data(), window, start) != window)
        return -1;
    for (int32_t at = start; at < start + window; at += kBlock)
        StoreBlock(piece, at, scratch.data() + (at - start), std::min(kBlock, piece.length - at));
    piece.lastAccess = Now() - kReadAge;
    if (!piece.store.Copy(offset, length, buffer))
        return -1;
    if (cacheBytes >= CacheBudgetBytes())
        Evict(Now());
    return length;
}
