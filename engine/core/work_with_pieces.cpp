#include "engine/core/work_with_pieces.h"

#include <algorithm>
#include <cstring>
#include <strings.h>

#include "engine/base/engine_clock.h"
#include "engine/base/log_channels.h"
#include "engine/base/quarrowlight_log.h"
#include "engine/storage/pieces.h"
#include "engine/storage/torrent.h"
#include "platform/remove_file.h"
#include "platform/tick.h"

namespace {
constexpr int32_t kMinHttpPiece = 64 * 1024;
constexpr int32_t kMaxHttpPiece = 16 * 1024 * 1024;
constexpr int64_t kMaxHttpPieces = 2048;
constexpr char kDefaultHttpName[] = "index.htm";
constexpr char kFileScheme[] = "file://";

// A file name a server may choose, kept to one plain path element.
std::string SafeFileName(std::string name)
{
    size_t cut = name.find_last_of("/\\");
    if (cut != std::string::npos)
        name.erase(0, cut + 1);
    cut = name.find('?');
    if (cut != std::string::npos)
        name.erase(cut);
    for (char &c : name) {
        auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || c == ':' || c == '*' || c == '"' || c == '<' || c == '>' || c == '|')
            c = '_';
    }
    if (name.empty() || name == "." || name == "..")
        return kDefaultHttpName;
    return name;
}
} // namespace

TWorkWithPieces::TWorkWithPieces() = default;

TWorkWithPieces::~TWorkWithPieces()
{
    // The task has reset and closed everything by now; only memory is left
    // to give back, without calls into layers already destroyed. The
    // scheduler frees its ranges when it goes.
}

int32_t TWorkWithPieces::CopyPublishedHaveMap(void *buf, int32_t len) const
{
    if (buf == nullptr || len <= 0)
        return 0;
    size_t copied = std::min(static_cast<size_t>(len), publishedHaveMap.size());
    if (copied > 0)
        std::memcpy(buf, publishedHaveMap.data(), copied);
    uint64_t bits = static_cast<uint64_t>(publishedHaveMap.size()) * 8;
    return static_cast<int32_t>(std::min<uint64_t>(bits, publishedPieceCount));
}

bool TWorkWithPieces::SetHaveBit(int64_t piece, bool on)
{
    if (piece < 0 || static_cast<uint64_t>(piece) / 8 >= haveMap.size())
        return false;
    uint8_t bit = static_cast<uint8_t>(0x80u >> (piece % 8));
    if (on) {
        haveMap[piece / 8] |= bit;
    } else {
        haveMap[piece / 8] &= static_cast<uint8_t>(~bit);
        firstMissing = std::min<int32_t>(firstMissing, static_cast<int32_t>(piece));
    }
    return true;
}

void TWorkWithPieces::Reset(bool release, bool full)
{
    TWorkWithPeers::Reset(release, full);
    ClearScheduling();
    completionTime = 0;
    completed = false;
    saveRequested = false;
    if (release)
        ReleaseDataFile();
}

void TWorkWithPieces::ClearScheduling()
{
    scheduler.Clear();
    firstMissing = 0;
}

void TWorkWithPieces::ReleaseDataFile()
{
    if (pieces != nullptr) {
        pieces->CloseFiles(false);
        pieces.Reset();
    }
    torrent.Reset();
    PublishDataFile();
}

void TWorkWithPieces::PublishDataFile()
{
    TPublishedDataFile fresh;
    if (pieces != nullptr) {
        fresh.name = pieces->Name();
        fresh.totalSize = static_cast<uint64_t>(pieces->TotalLength());
        fresh.pieceLength = pieces->PieceLength();
        fresh.pieceCount = pieces->PieceCount();
        for (int32_t i = 0; i < pieces->FileCount(); ++i) {
            const TTaskFile *file = pieces->File(i);
            fresh.files.push_back({DataFilePath(i), file->length, file->offset});
        }
    }
    if (HasMetadata())
        fresh.infoHashHex = torrent->InfoHashHex();
    QAutoLock hold(OwnLock());
    publishedDataFile = std::move(fresh);
}

int64_t TWorkWithPieces::ReadPresent(int64_t offset, uint8_t *buffer, int64_t length)
{
    return HasPieces() ? pieces->ReadStream(offset, buffer, length) : -1;
}

bool TWorkWithPieces::HasMetadata()
{
    return torrent != nullptr && !torrent->InfoHash().IsZero();
}

const uint8_t *TWorkWithPieces::InfoHash()
{
    return HasMetadata() ? torrent->InfoHash().Bytes() : nullptr;
}

std::string TWorkWithPieces::TorrentName()
{
    return pieces != nullptr ? pieces->Name() : std::string();
}

std::string TWorkWithPieces::DataFilePath(int file)
{
    TTaskFile *entry = pieces != nullptr ? pieces->File(file) : nullptr;
    if (entry == nullptr)
        return std::string();
    return entry->temporaryName ? entry->finalPath : entry->diskPath;
}

bool TWorkWithPieces::PiecesReady()
{
    return HasPieces();
}

bool TWorkWithPieces::HasPieces() const
{
    return pieces != nullptr && pieces->PiecesSetUp();
}

bool TWorkWithPieces::StartupCheckFinished()
{
    return pieces != nullptr && pieces->CheckFinished();
}

void TWorkWithPieces::CopyPieceCounters(bool bytes)
{
    if (!HasPieces())
        return;
    live.pieceCount = static_cast<uint32_t>(pieces->PieceCount());
    live.piecesDone = static_cast<uint32_t>(std::max(pieces->DoneOrUnwantedPieces(), 0));
    if (bytes) {
        live.totalSize = static_cast<uint64_t>(pieces->TotalLength());
        live.doneBytes = static_cast<uint64_t>(std::max<int64_t>(pieces->VerifiedBytes(), 0));
    }
}

void TWorkWithPieces::OnBadLocalTorrent()
{
    live.state = TASK_STATE_BAD_TORRENT;
}

bool TWorkWithPieces::LoadTorrent(const std::string &bytes)
{
    // The parse reads the task's torrent, so the new one stands in while it
    // runs; the previous one comes back when the bytes are no metainfo.
    TRef<TTorrent> previous = std::exchange(torrent, TRef<TTorrent>::Adopt(new TTorrent(mainSource, this)));
    if (torrent->ParseMetainfo(bytes.data(), static_cast<int64_t>(bytes.size())) && HasMetadata()) {
        live.fileName = pieces != nullptr ? pieces->Name() : std::string();
        return true;
    }
    torrent = std::move(previous);
    return false;
}

bool TWorkWithPieces::BuildFileTable(const QElement &info)
{
    auto fresh = TRef<TPieces>::Adopt(new TPieces(this, folder, targetFile));
    PrepareStartup(*fresh);
    building = fresh;
    bool built = fresh->BuildFromInfo(&info, pieces);
    building = nullptr;
    if (!built)
        return false;
    int32_t oldLength = pieces != nullptr ? pieces->PieceLength() : 0;
    pieces = std::move(fresh);
    if (oldLength != 0 && oldLength != pieces->PieceLength()) {
        // Geometry changed: nothing planned against the old pieces holds.
        for (TPeerObject *peer : connections)
            peer->ReleaseRange();
        ClearScheduling();
    }
    firstMissing = 0;
    // Bits the start-up check set arrived while the table was being built.
    haveMap.assign(pieces->Bitfield().begin(), pieces->Bitfield().end());
    CopyPieceCounters(true);
    PublishDataFile();
    return true;
}

void TWorkWithPieces::PrepareStartup(TPieces &fresh)
{
    // A disk-space wait runs inside the worker's round, so it must end on a
    // stop request (the task's own answer to disk full is one), not only
    // once the worker winds down.
    fresh.SetStopQuery([this] { return IsStopping() || StopRequested(); });
    fresh.SetCacheBudget(settings.limitB);
    QAutoLock hold(OwnLock());
    fresh.SetStartupInput(stateValues.bits, stateValues.part, resumePath.empty() ? std::string() : secondResumePath,
                          settings.storeMode != 0);
}

void TWorkWithPieces::LoadResumeRecord()
{
    std::string metainfo;
    {
        QAutoLock hold(OwnLock());
        if (!LoadStateFile(resumePath, stateValues))
            return;
        metainfo = stateValues.torrent;
    }
    LoadSourceVersions();
    // A torrent fetched in an earlier run need not be fetched again; a local
    // torrent file is read afresh at every start.
    if (!metainfo.empty() && torrent == nullptr && !IsHttpTask() &&
        strncasecmp(mainSource.c_str(), kFileScheme, std::strlen(kFileScheme)) != 0)
        AdoptFetchedTorrent(metainfo);
}

void TWorkWithPieces::SaveBlockSpill()
{
    if (HasPieces() && !resumePath.empty())
        pieces->SaveBlockSpill();
}

void TWorkWithPieces::SaveResumeRecord()
{
    if (resumePath.empty() || !HasPieces() || !pieces->CheckFinished())
        return;
    // Verified pieces reach the disk, and the disk is synced, before a
    // record says they are there.
    pieces->FlushVerified();
    if (!pieces->SyncFiles()) {
        EngineLogFormat(LOG_CHANNEL_TASK_STATE, "Data not synced, task state kept as before: %s", resumePath.c_str());
        return;
    }
    pieces->BuildResumeRecord();
    pieces->BuildSelectionRecord();
    TTaskStateValues values;
    {
        QAutoLock hold(OwnLock());
        if (torrent != nullptr && !torrent->Metainfo().empty() && torrent->Metainfo() != stateValues.torrent) {
            stateValues.torrent = torrent->Metainfo();
            stateValues.torrentDirty = true;
        }
        values = stateValues;
    }
    // Written without the task's lock: the interface's readers need not wait
    // for the disk. Only this worker changes the values.
    if (!SaveStateFile(resumePath, values)) {
        EngineLogFormat(LOG_CHANNEL_TASK_STATE, "Task state not saved: %s", resumePath.c_str());
        return;
    }
    {
        QAutoLock hold(OwnLock());
        stateValues.ClearDirty();
    }
    pieces->RecordSaved();
}

void TWorkWithPieces::DeleteResumeRecord()
{
    if (resumePath.empty())
        return;
    platform::RemoveFile(resumePath);
    platform::RemoveFile(secondResumePath);
    QAutoLock hold(OwnLock());
    stateValues = TTaskStateValues();
}

void TWorkWithPieces::OpenDataFile()
{
    if (pieces == nullptr && torrent != nullptr)
        torrent->LoadMetainfo();
}

int32_t TWorkWithPieces::PieceLengthForSize(int64_t size)
{
    int32_t length = kMinHttpPiece;
    while (length < kMaxHttpPiece && (size + length - 1) / length > kMaxHttpPieces)
        length *= 2;
    return length;
}

std::string TWorkWithPieces::HttpTargetPath(const TPeerId &address) const
{
    if (!targetFile.empty())
        return targetFile;
    const TUrlParts *parts = address.PartsIfAny();
    std::string name = SafeFileName(parts != nullptr ? parts->fileName : std::string());
    std::string directory = folder;
    if (!directory.empty() && directory.back() != '/')
        directory.push_back('/');
    return directory + name;
}

// An HTTP task has no metainfo: its table is one file at the target path,
// sized by the first server that reports the size, without piece hashes.
void TWorkWithPieces::OnServerSize(TPeerId &address)
{
    if (pieces != nullptr || building != nullptr || !IsHttpTask())
        return;
    const TUrlParts *parts = address.PartsIfAny();
    if (parts == nullptr || parts->serverSize <= 0)
        return;
    std::string path = HttpTargetPath(address);
    size_t cut = path.find_last_of('/');
    std::string directory = cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
    auto fresh = TRef<TPieces>::Adopt(new TPieces(this, directory, path));
    PrepareStartup(*fresh);
    building = fresh;
    bool built = fresh->BuildSingleFile(path.substr(cut == std::string::npos ? 0 : cut + 1), parts->serverSize,
                                        PieceLengthForSize(parts->serverSize));
    building = nullptr;
    if (!built)
        return;
    pieces = std::move(fresh);
    if (targetFile.empty())
        targetFile = path;
    live.fileName = path;
    firstMissing = 0;
    haveMap.assign(pieces->Bitfield().begin(), pieces->Bitfield().end());
    CopyPieceCounters(true);
    PublishDataFile();
    PublishStatus(true, true);
}

bool TWorkWithPieces::AdoptFetchedTorrent(const std::string &content)
{
    if (HasMetadata())
        return false;
    if (torrent == nullptr)
        torrent = TRef<TTorrent>::Adopt(new TTorrent(mainSource, this));
    torrent->SetMetainfo(content);
    reopenRequested = true;
    SetPhase(TASK_PHASE_DOWNLOADING);
    return true;
}

void TWorkWithPieces::ReopenDataFile()
{
    reopenRequested = false;
    if (torrent == nullptr)
        return;
    // A failed build keeps the old data file.
    torrent->LoadMetainfo();
    if (HasPieces()) {
        const auto &bits = pieces->Bitfield();
        haveMap.assign(bits.begin(), bits.end());
        live.fileName = pieces->Name();
    }
    PublishStatus(true, true);
}

void TWorkWithPieces::CloseDataFile(bool finishing)
{
    if (pieces == nullptr)
        return;
    if (!finishing)
        pieces->FlushVerified();
    pieces->CloseFiles(finishing);
}

void TWorkWithPieces::FlushDataFile()
{
    if (pieces != nullptr)
        pieces->FlushVerified();
}

void TWorkWithPieces::DataFileHousekeeping()
{
    if (pieces == nullptr)
        return;
    pieces->Housekeeping();
    pieces->LimitOpenFiles();
}

int64_t TWorkWithPieces::FileSize()
{
    return HasPieces() ? pieces->TotalLength() : 0;
}

int32_t TWorkWithPieces::PieceLength()
{
    return HasPieces() ? pieces->PieceLength() : 0;
}

int32_t TWorkWithPieces::PieceCount()
{
    return HasPieces() ? pieces->PieceCount() : 0;
}

bool TWorkWithPieces::HasAllPieces()
{
    return HasPieces() && pieces->AllPiecesComplete();
}

bool TWorkWithPieces::IsPieceComplete(int32_t piece)
{
    return HasPieces() && pieces->IsPieceComplete(piece);
}

int64_t TWorkWithPieces::MissingInPiece(int32_t piece, int64_t *firstMissingByte)
{
    if (!HasPieces() || piece < 0 || piece >= pieces->PieceCount() || !pieces->IsNeeded(piece))
        return 0;
    int64_t start = static_cast<int64_t>(piece) * pieces->PieceLength();
    int64_t end = std::min(start + pieces->PieceLength(), pieces->TotalLength());
    int64_t missing = 0;
    bool found = false;
    for (int64_t at = start; at < end; at += kBlockBytes) {
        if (pieces->HasBlock(at / kBlockBytes))
            continue;
        if (!found && firstMissingByte != nullptr)
            *firstMissingByte = at - start;
        found = true;
        missing += std::min<int64_t>(kBlockBytes, end - at);
    }
    return missing;
}

bool TWorkWithPieces::IsPieceNeeded(int32_t piece)
{
    return HasPieces() && pieces->IsNeeded(piece);
}

bool TWorkWithPieces::HasBlock(int64_t block)
{
    return HasPieces() && pieces->HasBlock(block);
}

int32_t TWorkWithPieces::WriteBlock(int64_t block, int32_t length, const uint8_t *bytes, IBlockSource *source,
                                    bool *needed)
{
    if (!HasPieces())
        return -1;
    int32_t result = pieces->WriteBlock(block, length, bytes, source, needed);
    if (result == TPieces::kPieceCorrupt)
        firstMissing = 0;
    return result;
}

bool TWorkWithPieces::AllPiecesPresent()
{
    if (!HasPieces())
        return false;
    if (pieces->AllPiecesComplete())
        return true;
    int32_t count = pieces->PieceCount();
    firstMissing = std::max(firstMissing, 0);
    while (firstMissing < count && !pieces->IsNeeded(firstMissing))
        ++firstMissing;
    return firstMissing >= count;
}

int32_t TWorkWithPieces::MissingPieceCount()
{
    if (!HasPieces())
        return 0;
    return std::max(pieces->PieceCount() - pieces->DoneOrUnwantedPieces(), 0);
}

bool TWorkWithPieces::NearlyComplete()
{
    return HasPieces() && MissingPieceCount() <= 2;
}

int32_t TWorkWithPieces::RandomStartPiece()
{
    int32_t count = PieceCount();
    if (settings.randomStart == 0 || count <= 0)
        return 0;
    int64_t done = pieces->DoneOrUnwantedPieces();
    int64_t b = platform::TickCount() % (20 * done + 6);
    while (b >= count)
        b -= count;
    return static_cast<int32_t>(done > 1 ? b + done : b);
}

bool TWorkWithPieces::CheckComplete(int64_t now)
{
    if (!AllPiecesPresent()) {
        completionTime = 0;
        return false;
    }
    if (completionTime == 0)
        completionTime = now != 0 ? now : EngineTime();
    if (!completed) {
        // Verified pieces still in memory go to disk before the task counts
        // as complete.
        pieces->FlushVerified();
        if (!pieces->AllPiecesComplete() || !AllPiecesPresent())
            return false;
        completed = true;
        // Give the file its final name now, not at the next 20-second save.
        saveRequested = true;
        CopyPieceCounters(true);
    }
    if (now <= 0)
        return false;
    if (IsHttpTask())
        return pieces->VerifiedBytes() >= pieces->TotalLength();
    return settings.seedHours > 0 && (now - completionTime) / 3600 >= settings.seedHours;
}
