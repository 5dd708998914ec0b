// The file side of a task's data file: opening, sizing, positioned reads and
// writes of piece ranges, closing and final names.
#include <algorithm>
#include <climits>

#include "engine/base/engine_locks.h"
#include "engine/base/log_channels.h"
#include "engine/base/quarrowlight_log.h"
#include "engine/storage/pieces.h"
#include "platform/crash_point.h"
#include "platform/data_file_paths.h"
#include "platform/file_query.h"
#include "platform/tick.h"

namespace {
constexpr uint32_t kSpaceWaitMs = 2000;
constexpr uint32_t kStopPollMs = 100;
// Handles allowed per 256 KiB of piece length (LimitOpenFiles).
constexpr int32_t kHandleBudget = 128;
constexpr int32_t kHandleStep = 262144;
// The log channel of task completion.

std::string DirectoryOf(const std::string &path)
{
    const size_t cut = path.find_last_of('/');
    return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}
} // namespace

int64_t TPieces::FreeSpace(const std::string &directory) const
{
    // The query answers 0 when it fails as well as for a full volume; an
    // unknown answer lets the allocation itself find out, and a full volume
    // then reports itself through the failed allocation.
    const uint64_t free = platform::FreeBytesOfPath(directory);
    if (free == 0)
        return INT_MAX;
    return static_cast<int64_t>(std::min<uint64_t>(free, INT64_MAX));
}

bool TPieces::CreateDirectories(const std::string &path, bool alsoLast) const
{
    for (size_t cut = path.find('/', 1); cut != std::string::npos; cut = path.find('/', cut + 1)) {
        const std::string prefix = path.substr(0, cut);
        if (!platform::IsDirectory(prefix) && !platform::MakeDirectory(prefix))
            return false;
    }
    if (!alsoLast)
        return true;
    std::string whole = path;
    while (whole.size() > 1 && whole.back() == '/')
        whole.pop_back();
    return platform::IsDirectory(whole) || platform::MakeDirectory(whole);
}

bool TPieces::FileHasMissingWantedPieces(const TTaskFile &file) const
{
    for (int32_t i = file.firstPiece; i < file.firstPiece + file.pieceCount && i < pieceCount; ++i) {
        if (!pieces[static_cast<size_t>(i)].unwanted && !IsPieceComplete(i))
            return true;
    }
    return false;
}

bool TPieces::FileComplete(const TTaskFile &file) const
{
    for (int32_t i = file.firstPiece; i < file.firstPiece + file.pieceCount; ++i) {
        if (!IsPieceComplete(i))
            return false;
    }
    return true;
}

bool TPieces::OpenForUse(TTaskFile &file, bool writable)
{
    // A file that still has pieces to receive is opened for writing at once,
    // so the first write does not have to reopen it.
    const bool readWrite = writable || (CheckFinished() && !AllPiecesComplete() && FileHasMissingWantedPieces(file));
    if (readWrite) {
        if (file.disk.Open(file.diskPath, false, false))
            return true;
        if (CreateDirectories(file.diskPath, false) && file.disk.Open(file.diskPath, false, false))
            return true;
        if (writable)
            return false;
    }
    return file.disk.Open(file.diskPath, true, false);
}

bool TPieces::WaitForSpace(const TTaskFile &file, int64_t shortfall, QAutoLock &lock)
{
    const std::string directory = DirectoryOf(file.diskPath);
    int64_t free = FreeSpace(directory);
    if (free >= shortfall)
        return true;
    // Other tasks may write while this one waits.
    lock.Release();
    ReportDiskFull();
    while (free < shortfall) {
        for (uint32_t slept = 0; slept < kSpaceWaitMs && !StopRequested(); slept += kStopPollMs)
            platform::SleepMs(kStopPollMs);
        if (StopRequested())
            return false;
        free = FreeSpace(directory);
    }
    Send(PIECES_EVENT_SPACE_AGAIN, 1, 0, 0);
    return true;
}

// Opens the file when needed and makes it long enough for use at
// neededOffset. A selected file is allocated to its full length at its first
// writable preparation; a deselected one only as far as data goes into it.
// A file found longer than the metainfo says is cut back.
bool TPieces::PrepareFile(TTaskFile &file, int64_t neededOffset, bool writable, QAutoLock *lockHolder, bool noExtend)
{
    if (file.length < 0 || neededOffset < 0 || neededOffset > file.length)
        return false;
    if (writable && file.disk.IsOpen() && file.disk.IsReadOnly())
        file.disk.Close();
    if (!file.disk.IsOpen() && writable)
        platform::MakeFileWritable(file.diskPath);
    if (!file.disk.IsOpen())
        OpenForUse(file, writable);
    int64_t size = file.disk.Size();
    if (size < 0) {
        if (!checkingFiles)
            Send(PIECES_EVENT_OPEN_FAILED, 1, 0, 0);
        return false;
    }
    if (size > file.length) {
        const bool wasReadOnly = file.disk.IsReadOnly();
        file.disk.Close();
        const bool cut = file.disk.Open(file.diskPath, false, false) && file.disk.SetLength(file.length);
        file.disk.Close();
        return cut && file.disk.Open(file.diskPath, wasReadOnly, false) && file.disk.Size() == file.length;
    }
    if (!writable)
        return size >= neededOffset && piecesSetUp;

    const int64_t target = file.Selected() ? file.length : neededOffset;
    QAutoLock ownLock(DiskLock(), false);
    QAutoLock &lock = lockHolder != nullptr ? *lockHolder : ownLock;
    if (target > size && !WaitForSpace(file, target - size, lock))
        return false;
    if (!noExtend && target > size) {
        lock.Lock();
        if (file.disk.SetLength(target)) {
            size = target;
            unsynced.insert(file.index);
        }
        if (size < target) {
            const bool full = file.disk.LastWriteHitFullDisk();
            file.disk.Close();
            // The task is told without the disk lock held: it takes its own
            // lock, which comes first in the lock order.
            lock.Release();
            if (full)
                ReportDiskFull();
        }
    }
    return size >= neededOffset && piecesSetUp && file.disk.Size() >= neededOffset;
}

bool TPieces::MapPieceToFiles(int32_t index, std::vector<TTaskFile *> &covered, int64_t &startOffset)
{
    covered.clear();
    if (!piecesSetUp || index < 0 || index >= pieceCount)
        return false;
    TPiece &piece = pieces[static_cast<size_t>(index)];
    if (piece.firstFile < 0) {
        const int64_t start = static_cast<int64_t>(index) * pieceLength;
        auto after = std::upper_bound(files.begin(), files.end(), start,
                                      [](int64_t at, const std::unique_ptr<TTaskFile> &file) { return at < file->offset; });
        if (after == files.begin())
            return false;
        const TTaskFile &first = **(after - 1);
        if (start >= first.End())
            return false;
        piece.firstFile = first.index;
        piece.startOffset = start - first.offset;
    }
    startOffset = piece.startOffset;
    int64_t remaining = piece.length;
    int64_t at = startOffset;
    for (int32_t i = piece.firstFile; i < FileCount() && remaining > 0; ++i) {
        TTaskFile &file = *files[static_cast<size_t>(i)];
        if (file.length == 0) {
            file.disk.Close(); // never holds piece data
            continue;
        }
        if (file.length < 0)
            break;
        covered.push_back(&file);
        remaining -= std::min(file.length - at, remaining);
        at = 0;
    }
    return remaining == 0;
}

// A deselected file is stored compactly: the head part of its first boundary
// piece in place (within one piece length), and the tail part of its last
// boundary piece as the file's last bytes. diskOffset is where the segment
// lies in a fully sized file; tail says the compact rule applies.
template <typename Visit>
bool TPieces::ForEachSegment(int32_t index, int32_t offset, int32_t length, bool writable, QAutoLock &lock,
                             Visit visit)
{
    std::vector<TTaskFile *> covered;
    int64_t inFile = 0;
    if (!MapPieceToFiles(index, covered, inFile))
        return false;
    const TPiece &piece = pieces[static_cast<size_t>(index)];
    const int64_t end = std::min<int64_t>(static_cast<int64_t>(offset) + length, piece.length);
    const bool spans = covered.size() > 1;
    int64_t position = 0;
    for (TTaskFile *file : covered) {
        if (position >= end)
            break;
        const int64_t segment = std::min(file->length - inFile, piece.length - position);
        if (position + segment > offset) {
            const int64_t cut = std::max<int64_t>(0, offset - position);
            const int64_t diskOffset = inFile + cut;
            const int64_t bytes = std::min(segment - cut, end - position - cut);
            int64_t needed = diskOffset;
            if (!file->Selected())
                needed = std::min<int64_t>(needed, pieceLength);
            if (!PrepareFile(*file, needed, writable, &lock, false))
                return false;
            const bool tail = !file->Selected() && diskOffset > pieceLength && spans;
            if (!visit(*file, diskOffset, tail, position + cut - offset, bytes))
                return false;
        }
        position += segment;
        inFile = 0;
    }
    return true;
}

int64_t TPieces::WritePieceRange(int32_t index, const uint8_t *buffer, int32_t length, int32_t offset)
{
    if (!piecesSetUp || index < 0 || index >= pieceCount || buffer == nullptr || length < 1 || offset < 0 ||
        offset >= pieces[static_cast<size_t>(index)].length)
        return -1;
    std::vector<TTaskFile *> covered;
    int64_t start = 0;
    if (!MapPieceToFiles(index, covered, start))
        return -1;
    diskFullRaised = false;
    QAutoLock lock(DiskLock(), false);
    int64_t written = 0;
    auto write = [&](TTaskFile &file, int64_t diskOffset, bool tail, int64_t from, int64_t bytes) {
        lock.Lock();
        if (tail) {
            const int64_t size = file.disk.Size();
            if (size >= 0 && size <= diskOffset)
                diskOffset = size; // appended: the tail always forms the file's last bytes
        }
        const int64_t done = file.disk.WriteAt(buffer + from, bytes, diskOffset);
        unsynced.insert(file.index);
        const bool full = done != bytes && file.disk.LastWriteHitFullDisk();
        lock.Release();
        if (full)
            ReportDiskFull();
        if (done != bytes)
            return false;
        written += bytes;
        return true;
    };
    ForEachSegment(index, offset, length, true, lock, write);
    return diskFullRaised ? kWriteNoSpace : written;
}

int64_t TPieces::ReadPieceRange(int32_t index, uint8_t *buffer, int32_t length, int32_t offset)
{
    if (!piecesSetUp || index < 0 || index >= pieceCount || buffer == nullptr || length < 1 || offset < 0 ||
        offset >= pieces[static_cast<size_t>(index)].length)
        return -1;
    QAutoLock lock(DiskLock(), false);
    int64_t read = 0;
    auto readSegment = [&](TTaskFile &file, int64_t diskOffset, bool tail, int64_t to, int64_t bytes) {
        lock.Lock();
        if (tail)
            diskOffset = file.disk.Size() - (file.length - diskOffset);
        const int64_t done = diskOffset < 0 ? -1 : file.disk.ReadAt(buffer + to, bytes, diskOffset);
        lock.Release();
        if (done != bytes)
            return false;
        read += bytes;
        return true;
    };
    return ForEachSegment(index, offset, length, false, lock, readSegment) ? read : -1;
}

int32_t TPieces::CloseFiles(bool finishing)
{
    if (finishing)
        FlushVerified();
    int32_t open = 0;
    for (auto &file : files) {
        if (file->disk.IsOpen()) {
            ++open;
            file->disk.Close();
        }
    }
    if (finishing && CheckFinished()) {
        for (auto &file : files) {
            if (file->temporaryName && file->Selected() && (AllPiecesComplete() || FileComplete(*file)))
                GiveFinalName(*file);
        }
        if (AllPiecesComplete()) {
            for (int32_t i = 0; i < pieceCount; ++i)
                pieces[static_cast<size_t>(i)].runningHash.Release();
            if (!spillPath.empty())
                platform::RemoveFile(spillPath);
        }
    }
    return open;
}

void TPieces::GiveFinalName(TTaskFile &file)
{
    // The data must be durable before the name vouches for it.
    TDiskFile data;
    if (!data.Open(file.diskPath, true, false) || !data.SyncData()) {
        EngineLogFormat(LOG_CHANNEL_DOWNLOAD, "Data file not synced, kept as %s", file.diskPath.c_str());
        return;
    }
    data.Close();
    platform::CrashPointReached("final-rename");
    // An existing final file is never replaced: this one keeps its
    // temporary name and the rename is tried again at the next finishing.
    const platform::MoveResult moved = platform::MoveFileNoReplace(file.diskPath, file.finalPath);
    if (moved == platform::MoveResult::TargetExists)
        EngineLogFormat(LOG_CHANNEL_DOWNLOAD, "%s already exists, data kept as %s", file.finalPath.c_str(),
                        file.diskPath.c_str());
    if (moved != platform::MoveResult::Moved)
        return;
    file.diskPath = file.finalPath;
    file.finalPath.clear();
    file.temporaryName = false;
}

void TPieces::LimitOpenFiles()
{
    if (pieceLength <= 0)
        return;
    int32_t open = 0;
    for (const auto &file : files)
        open += file->disk.IsOpen() ? 1 : 0;
    if (open < kHandleBudget / ((pieceLength - 1) / kHandleStep + 1) + 1)
        return;
    for (auto &file : files)
        file->disk.Close();
}

void TPieces::CreateAllFiles()
{
    for (auto &file : files) {
        if (StopRequested())
            break;
        if (file->length > 0 && file->Selected())
            PrepareFile(*file, file->length, true, nullptr, true); // waits for space, allocates nothing
        else if (file->length == 0 && !platform::PathExists(file->diskPath))
            OpenForUse(*file, true);
        file->disk.Close();
    }
    checkedBytes = totalLength;
    RecountDoneOrUnwanted();
}
