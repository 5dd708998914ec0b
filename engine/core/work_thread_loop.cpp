// The task's worker: its main routine, preparation and the rounds of its loop.
#include <cstring>
#include <strings.h>

#include "engine/base/engine_buffer_pools.h"
#include "engine/base/engine_clock.h"
#include "engine/base/engine_locks.h"
#include "engine/base/log_channels.h"
#include "engine/base/quarrowlight_log.h"
#include "engine/core/engine_state.h"
#include "engine/core/work_thread.h"
#include "engine/net/local_address.h"
#include "engine/net/run_end_trim.h"
#include "platform/read_file.h"
#include "platform/socket_wait.h"
#include "platform/thread_id.h"
#include "platform/tick.h"

namespace {
constexpr uint32_t kDispatchMs = 400;
constexpr uint32_t kRatePeriod = 3;
constexpr uint32_t kTrimPeriod = 8;
constexpr uint32_t kLanPeriod = 10;
constexpr uint32_t kCandidatePeriod = 15;
constexpr uint32_t kNoSourceSeconds = 15;
constexpr uint32_t kTrackerOnlySeconds = 60;
constexpr uint32_t kTrackerOnlyPauseMs = 200;
constexpr size_t kMaxTorrentBytes = 64u << 20;
constexpr char kFileScheme[] = "file://";

bool Due(uint32_t now, uint32_t &last, uint32_t period)
{
    if (last != 0 && now - last < period)
        return false;
    last = now;
    return true;
}
} // namespace

void TWorkThread::Run()
{
    try {
        MainRoutine();
    } catch (...) {
        ReleaseLocksOfDeadBody();
    }
}

// A body that died may hold levels of the engine-wide locks; only levels this
// thread owns are released, since Unlock fails for anyone else.
void TWorkThread::ReleaseLocksOfDeadBody()
{
    QTMutex *locks[] = {&OwnLock(), &RegistryLock(), &SocketLock(), &DiskLock()};
    for (QTMutex *lock : locks) {
        while (lock->Unlock())
            platform::SleepMs(20);
    }
}

void TWorkThread::MainRoutine()
{
    stopping = false;
    LoadResumeRecord();
    if (!Prepare()) {
        // The state code Prepare set (a bad torrent) must reach the readers.
        QAutoLock hold(OwnLock());
        live.phase = TASK_PHASE_IDLE;
        Flush(true, false);
        return;
    }
    live.phase = TASK_PHASE_DOWNLOADING;
    error = false;
    timedOut = false;
    dataMismatch = false;
    badData = TBadDataVerdict();
    badDataUrls.clear();
    lastCandidateSeconds = lastTrimSeconds = lastLanSeconds = 0;

    // Sources become candidates before the first round, so it can connect.
    lastCandidateSeconds = EngineSeconds();
    MaintainCandidates();

    bool finished = false;
    while (!CheckStop()) {
        LoopBody(finished);
        if (finished || error || timedOut || dataMismatch)
            break;
    }

    stopping = true;
    if (!completed)
        CheckComplete(0);
    // The piece that completed the task may be the one a reader waits for.
    ServeReads();
    bool complete = completed;
    ReleaseSourceMarks();
    Reset(false, false);
    // A complete file gets its final name before the task reports the end.
    CloseDataFile(complete);
    if (complete) {
        DeleteResumeRecord();
    } else {
        SaveBlockSpill();
        SaveResumeRecord();
    }
    {
        QAutoLock hold(OwnLock());
        live.phase = TASK_PHASE_IDLE;
        if (!complete && error)
            live.state = TASK_STATE_NO_SOURCE;
        else if (!complete && timedOut)
            live.state = TASK_STATE_SIZE_TIMEOUT;
        else if (!complete && dataMismatch)
            live.state = TASK_STATE_DATA_MISMATCH;
        live.badData = !complete && dataMismatch ? badData : TBadDataVerdict();
        CopyPieceCounters(true);
        Flush(true, false);
    }
    Reset(false, false);
    TrimEngineBufferPoolsAtRunEnd();
}

void TWorkThread::LoopBody(bool &finished)
{
    if (CheckComplete(taskClock)) {
        EngineLogFormat(LOG_CHANNEL_DOWNLOAD, "TID : %5lu] [%s is Download Complete", static_cast<unsigned long>(platform::CurrentThreadId()),
                        targetFile.c_str());
        finished = true;
        return;
    }
    Step();
    if (CheckStop())
        return;
    DiscardChangedData();
    uint32_t seconds = EngineSeconds();
    uint32_t running = seconds - StartSeconds();
    if (Due(seconds, lastCandidateSeconds, kCandidatePeriod))
        MaintainCandidates();
    if (CheckStop())
        return;
    if (live.totalSize == 0 && FileSize() == 0 && running > static_cast<uint32_t>(settings.sizeTimeout)) {
        timedOut = true;
        return;
    }
    if (CheckComplete(taskClock))
        return;
    if (live.speed == 0 && running > kNoSourceSeconds && (IsHttpTask() || !HasMetadata()) && !HasCandidates()) {
        error = true;
        ReleaseSourceMarks();
        return;
    }
    // Bytes keep arriving from a server whose data never verifies, so the
    // silent-source checks never fire; once it is dropped and nothing else
    // can deliver, the task ends with that verdict.
    if (OnlyBadDataLeft()) {
        dataMismatch = true;
        return;
    }
    if (CheckStop())
        return;
    if (Due(seconds, lastTrimSeconds, kTrimPeriod)) {
        bool fourth = ++trimRounds % 4 == 0;
        TrimEngineBufferPools(fourth);
        if (fourth) {
            PendingUpkeep();
            haveMapToPublish = true;
        }
    }
    if (reopenRequested && !CheckStop()) {
        ReopenDataFile();
        BuildHandshake();
    }
    if (!CheckStop() && Due(seconds, lastLanSeconds, kLanPeriod))
        LanExchange();
}

int64_t TWorkThread::Step()
{
    DataFileUpkeep();
    // Before the connections plan: they read the focus the reads set.
    ServeReads();
    ApplyChangedLimits();
    uint32_t tick = platform::TickCount();
    if (tick - lastDispatchTick >= kDispatchMs) {
        lastDispatchTick = tick;
        DispatchIncoming();
    }
    uint32_t seconds = EngineSeconds();
    bool tickRound = seconds != lastTickSeconds;
    if (tickRound) {
        lastTickSeconds = seconds;
        StatTick(completed);
        firstRoundsDone = true;
        int64_t diskBytes = GetFileDiskSize(targetFile.c_str());
        if (diskBytes > 0)
            live.diskBytes = diskBytes;
        live.runSeconds = seconds - StartSeconds();
        live.fileCount = DataFileCount();
    }
    ServiceConnections(tickRound);
    if (completed && OnlyTrackersFor(kTrackerOnlySeconds))
        platform::SleepMs(kTrackerOnlyPauseMs);
    if (refreshRequested && OwnLock().TryLock()) {
        refreshRequested = false;
        Flush(true, false);
        Refresh();
        OwnLock().Unlock();
    }
    if (Due(seconds, lastRateSeconds, kRatePeriod))
        RateRound();
    PauseRound();
    return taskClock != 0 ? taskClock : EngineTime();
}

// The round's pause is spent waiting on the sockets that delivered at their
// last service: when one has data again the next round services every
// connection at once instead of sleeping through the idle rounds of its
// service period. A source that has just planned its next blocks of an
// open range is waited on too: its last service only planned, but its
// answer keeps flowing; so is one that awaits a reply to a command. Other
// sockets that delivered nothing at their last service are not waited on
// (they may hold data nobody reads now), and a spent allowance sleeps the
// whole pause, so the loop never spins.
void TWorkThread::PauseRound()
{
    int pause = static_cast<int>(firstRoundsDone ? roundPause : 6);
    std::vector<int> handles;
    if (DownloadAllowance() > 0) {
        for (TPeerObject *peer : connections) {
            bool expectsData = peer->tick.received > 0 || peer->counters.pendingBlocks > 0 || peer->AwaitsReply();
            if (expectsData && peer->IsConnected() && peer->WaitHandle() >= 0)
                handles.push_back(peer->WaitHandle());
        }
    }
    if (handles.empty()) {
        platform::SleepMs(static_cast<uint32_t>(pause));
        return;
    }
    int ready = platform::WaitAnyReadable(handles, pause);
    if (ready > 0)
        serviceAllNext = true;
    else if (ready < 0)
        platform::SleepMs(static_cast<uint32_t>(pause));
}

bool TWorkThread::Prepare()
{
    int64_t diskBytes = GetFileDiskSize(targetFile.c_str());
    if (diskBytes > 0)
        live.diskBytes = diskBytes;
    if (!IsHttpTask() && !mainSource.empty()) {
        live.phase = TASK_PHASE_IDLE;
        if (strncasecmp(mainSource.c_str(), kFileScheme, std::strlen(kFileScheme)) == 0) {
            std::string bytes;
            std::string path = mainSource.substr(std::strlen(kFileScheme));
            bool readable = platform::ReadWholeFile(path, kMaxTorrentBytes, bytes) == platform::ReadFileStatus::Ok;
            bool looksBencoded = readable && bytes.size() > 2 && (bytes[0] == 'd' || bytes[0] == 'D');
            if (!looksBencoded || !LoadTorrent(bytes)) {
                // Without a torrent there is no data file to open.
                live.state = TASK_STATE_BAD_TORRENT;
                uint32_t id = 0;
                RequestStop(id);
                return false;
            }
        }
        if (HasMetadata()) {
            OpenDataFile();
            BuildHandshake();
        }
        live.phase = TASK_PHASE_DOWNLOADING;
    }
    return IsHttpTask() || HasMetadata() || !sources.empty();
}

void TWorkThread::Reset(bool release, bool full)
{
    TWorkWithTransStatis::Reset(release, full);
    trimRounds = 0;
    lastTickSeconds = 0;
    lastRateSeconds = 0;
    lastDispatchTick = 0;
    firstRoundsDone = false;
    handshake.reset();
}

void TWorkThread::BuildHandshake()
{
    const uint8_t *infoHash = InfoHash();
    if (handshake || infoHash == nullptr)
        return;
    handshake = ::BuildHandshake(infoHash, TorrentName(), platform::CurrentThreadId(),
                                 reinterpret_cast<uintptr_t>(this), platform::TickCount(), PickLocalAddress(), EngineId());
    JoinSwarm();
    AddTorrentTrackers();
}
