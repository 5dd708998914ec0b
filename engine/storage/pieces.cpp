#include "engine/storage/pieces.h"

#include <algorithm>
#include <cstdint>

#include "engine/base/engine_clock.h"
#include "engine/storage/bencode.h"
#include "engine/storage/file_table.h"
#include "engine/storage/qelement.h"
#include "platform/data_file_paths.h"

namespace {
constexpr int32_t kMaxCacheUnits = 8000;
constexpr int32_t kMinCacheUnits = 4;
constexpr size_t kHashLength = 20;
} // namespace

TPieces::TPieces(IPiecesEventSink *ownerSink, std::string saveDirectoryPath, std::string targetFilePath)
    : owner(ownerSink), saveDirectory(std::move(saveDirectoryPath)), targetPath(std::move(targetFilePath))
{
}

TPieces::~TPieces()
{
    // Nothing is written here: the task flushes and closes with finishing
    // before it lets go, and a table being replaced must not touch the files.
    ResetTable();
}

void TPieces::SetCacheBudget(int32_t units)
{
    cacheBudgetUnits = std::min(kMaxCacheUnits, std::max(units, kMinCacheUnits));
}

TTaskFile *TPieces::File(int32_t index) const
{
    if (index < 0 || index >= FileCount())
        return nullptr;
    return files[static_cast<size_t>(index)].get();
}

void TPieces::Send(int32_t code, int32_t argument, int32_t size, int32_t value)
{
    if (owner == nullptr)
        return;
    TPiecesEvent event;
    event.code = code;
    event.argument = argument;
    event.size = size;
    event.value = value;
    owner->OnDataFileEvent(event);
}

void TPieces::ReportDiskFull()
{
    diskFullRaised = true;
    Send(PIECES_EVENT_DISK_FULL, 1, 0, 0);
}

void TPieces::ResetTable()
{
    files.clear();
    pieces.reset();
    resident.clear();
    bitfield.clear();
    scratch.clear();
    piecesSetUp = false;
    name.clear();
    pieceLength = 0;
    pieceHashes.clear();
    pieceCount = 0;
    totalLength = 0;
    checkedBytes = 0;
    wantedBytes = 0;
    wantedPieces = 0;
    doneOrUnwanted = 0;
    completePieces = 0;
    verifiedBytes = 0;
    lastCompleted = -1;
    cacheBytes = 0;
    verifiedInMemory = 0;
    downloadedBytes = 0;
    downloadedWithMemory = 0;
    unsynced.clear();
    partialPieces.clear();
    unvouched.clear();
}

void TPieces::SetStartupInput(std::string resumeRecord, std::string selectionRecord, std::string spillFilePath,
                              bool storeModeFlag)
{
    resumeInput = std::move(resumeRecord);
    selectionInput = std::move(selectionRecord);
    spillPath = std::move(spillFilePath);
    storeMode = storeModeFlag;
}

bool TPieces::BuildFromInfo(const QElement *info, TPieces *previous)
{
    if (info == nullptr || info->Type() != ELEMENT_DICTIONARY)
        return false;
    if (previous == this)
        previous = nullptr;
    // Held through the build: the caller may drop it while we take its names.
    auto held = TRef<TPieces>::Share(previous);
    if (previous != nullptr) {
        if (previous->PiecesSetUp())
            previous->CloseFiles(false);
    }
    TFileTableLayout layout;
    const bool built = BuildFileTable(info, saveDirectory, targetPath, layout);
    if (built) {
        ResetTable();
        saveDirectory = layout.saveDirectory;
        name = layout.name;
        pieceLength = layout.pieceLength;
        pieceCount = layout.pieceCount;
        totalLength = layout.totalLength;
        for (const std::string &folder : layout.directories)
            CreateDirectories(folder, true);
        for (TFileTableLayout::Entry &entry : layout.files) {
            auto file = std::make_unique<TTaskFile>();
            file->index = FileCount();
            file->diskPath = std::move(entry.diskPath);
            file->relativeName = std::move(entry.relativeName);
            file->length = entry.length;
            file->offset = entry.offset;
            file->firstPiece = entry.firstPiece;
            file->pieceCount = entry.pieceCount;
            ChooseTemporaryName(*file);
            files.push_back(std::move(file));
        }
        if (previous != nullptr)
            TakeOverNames(*previous);
        // A parsed element encodes to exactly the bytes it was read from, so
        // this is the hash of the dictionary as received, without relying
        // on the caller's text still being there.
        std::string encoded;
        hasInfoHash = Encode(info, encoded) && TInfoHash::Compute(encoded.data(), encoded.size(), infoHash);
        BuildPieces(std::move(layout.pieceHashes));
        ApplySelectionRecord();
        StartupCheck(previous);
        CreateAllFiles();
    }
    return built;
}

bool TPieces::BuildSingleFile(const std::string &fileName, int64_t length, int32_t pieceBytes)
{
    if (fileName.empty() || length <= 0 || pieceBytes <= 0 || pieceBytes % kBlockLength != 0 ||
        pieceBytes > kMaxPieceLength)
        return false;
    const int64_t count = (length + pieceBytes - 1) / pieceBytes;
    if (count > INT32_MAX)
        return false;
    ResetTable();
    name = fileName;
    pieceLength = pieceBytes;
    pieceCount = static_cast<int32_t>(count);
    totalLength = length;
    auto file = std::make_unique<TTaskFile>();
    file->index = 0;
    file->diskPath = targetPath.empty() ? saveDirectory + fileName : targetPath;
    file->relativeName = fileName;
    file->length = length;
    file->offset = 0;
    file->firstPiece = 0;
    file->pieceCount = FilePieceCount(0, length, pieceBytes);
    ChooseTemporaryName(*file);
    files.push_back(std::move(file));
    // No torrent names this content; the record is bound to the geometry
    // instead, so a server that now reports another size starts afresh.
    const std::string geometry = std::to_string(length) + ":" + std::to_string(pieceBytes);
    if (!TInfoHash::Compute(geometry.data(), geometry.size(), infoHash))
        infoHash = TInfoHash();
    hasInfoHash = false;
    BuildPieces(std::string());
    StartupCheck(nullptr);
    CreateAllFiles();
    return true;
}

void TPieces::ChooseTemporaryName(TTaskFile &file) const
{
    // A file already under its final name (complete, or someone else's) is
    // used in place; a new download always starts under the temporary name.
    if (file.temporaryName || file.diskPath.empty() || platform::PathExists(file.diskPath))
        return;
    file.finalPath = file.diskPath;
    file.diskPath += kTemporarySuffix;
    file.temporaryName = true;
}

void TPieces::TakeOverNames(const TPieces &previous)
{
    for (auto &file : files) {
        const TTaskFile *before = previous.File(file->index);
        if (before == nullptr || before->diskPath.empty() || !platform::PathExists(before->diskPath))
            continue;
        file->diskPath = before->diskPath;
        file->finalPath = before->finalPath;
        file->temporaryName = before->temporaryName;
    }
}

void TPieces::BuildPieces(std::string hashes)
{
    pieceHashes = std::move(hashes);
    pieces = std::make_unique<TPiece[]>(static_cast<size_t>(pieceCount));
    const auto *expected = reinterpret_cast<const uint8_t *>(pieceHashes.data());
    int64_t remaining = totalLength;
    for (int32_t i = 0; i < pieceCount; ++i) {
        TPiece &piece = pieces[static_cast<size_t>(i)];
        piece.index = i;
        piece.length = static_cast<int32_t>(std::min<int64_t>(pieceLength, remaining));
        piece.store.SetUp(piece.length);
        piece.expectedHash = pieceHashes.empty() ? nullptr : expected + static_cast<size_t>(i) * kHashLength;
        remaining -= piece.length;
    }
    bitfield.assign(static_cast<size_t>((pieceCount + 7) / 8), 0);
    wantedBytes = totalLength;
    wantedPieces = pieceCount;
    lastEviction = EngineSeconds();
    piecesSetUp = true;
    Send(PIECES_EVENT_PIECE_COUNT, 1, 4, pieceCount);
}

bool TPieces::IsPieceComplete(int32_t piece) const
{
    if (!piecesSetUp || piece < 0 || piece >= pieceCount)
        return false;
    return (bitfield[static_cast<size_t>(piece / 8)] & (0x80 >> (piece % 8))) != 0;
}

bool TPieces::IsNeeded(int32_t piece) const
{
    if (!piecesSetUp || piece < 0 || piece >= pieceCount)
        return false;
    const TPiece &entry = pieces[static_cast<size_t>(piece)];
    return !entry.unwanted && !Complete(entry);
}

void TPieces::SetComplete(int32_t piece, bool complete)
{
    if (!piecesSetUp || piece < 0 || piece >= pieceCount || IsPieceComplete(piece) == complete)
        return;
    uint8_t &bits = bitfield[static_cast<size_t>(piece / 8)];
    const TPiece &entry = pieces[static_cast<size_t>(piece)];
    const int32_t length = entry.length;
    // An unwanted piece is already counted as done-or-unwanted.
    const int32_t countStep = entry.unwanted ? 0 : 1;
    if (complete) {
        bits = static_cast<uint8_t>(bits | (0x80 >> (piece % 8)));
        ++completePieces;
        doneOrUnwanted += countStep;
        verifiedBytes += length;
        lastCompleted = piece;
    } else {
        bits = static_cast<uint8_t>(bits & ~(0x80 >> (piece % 8)));
        // The saved record may call it complete; it is refetched from scratch.
        if (!spillPath.empty())
            unvouched.insert(piece);
        --completePieces;
        doneOrUnwanted = std::max(doneOrUnwanted - countStep, 0);
        verifiedBytes = std::max<int64_t>(verifiedBytes - length, 0);
        if (lastCompleted == piece)
            lastCompleted = -1;
    }
    doneOrUnwanted = std::min(doneOrUnwanted, pieceCount);
    Send(PIECES_EVENT_PIECE_BIT, complete ? 1 : 0, 4, piece);
}

void TPieces::RecountDoneOrUnwanted()
{
    doneOrUnwanted = 0;
    for (int32_t i = 0; i < pieceCount; ++i) {
        if (pieces[static_cast<size_t>(i)].unwanted || IsPieceComplete(i))
            ++doneOrUnwanted;
    }
}
