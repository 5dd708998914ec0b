#include "engine/core/work_with_trans_statis.h"

#include <algorithm>

#include "engine/base/engine_clock.h"
#include "engine/net/listen_settings.h"
#include "engine/storage/pieces.h"

namespace {
constexpr int64_t kUnlimitedBudget = 1048576000;
constexpr int64_t kMinBudget = 3072;
constexpr int64_t kRateFloorForEstimate = 1024;
constexpr uint32_t kSaveSeconds = 20;
constexpr uint32_t kUpkeepSeconds = 5;
constexpr int64_t kSlowServerRate = 1024;
constexpr int32_t kSlowServerTicks = 15;
constexpr int32_t kMinConnectionBudget = 52;

int32_t ClampToInt(int64_t value)
{
    return static_cast<int32_t>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}
} // namespace

TSpeedClass SpeedClassOf(int64_t bytes)
{
    if (bytes >= 3145729)
        return {1, 14};
    if (bytes >= 1536001)
        return {2, 9};
    if (bytes >= 819201)
        return {3, 7};
    if (bytes >= 307201)
        return {4, 6};
    return {5, 5};
}

int64_t BudgetOfLimit(int32_t limitKB)
{
    int64_t base = limitKB > 0 ? static_cast<int64_t>(limitKB) * 1024 : kUnlimitedBudget;
    return std::max(base, kMinBudget);
}

void TWorkWithTransStatis::Reset(bool release, bool full)
{
    TWorkWithPieces::Reset(release, full);
    taskClock = 0;
    roundPause = 6;
    refreshRequested = false;
    rawIn = rawOut = payloadIn = 0;
    downloadBudget = uploadBudget = 0;
    totalIn = totalOut = 0;
    avgIn = avgOut = 0;
    sumDownRate = sumUpRate = 0;
    speedClass = 5;
    uploadPeriod = 15;
    uploadsThisRound = 0;
    lastSaveSeconds = lastUpkeepSeconds = lastDataSeconds = 0;
    slowServerTicks = 0;
}

void TWorkWithTransStatis::ApplyChangedLimits()
{
    if (!limitsChanged.exchange(false))
        return;
    int32_t downLimit = 0;
    int32_t upLimit = 0;
    {
        QAutoLock hold(OwnLock());
        downLimit = settings.speedLimit1;
        upLimit = settings.speedLimit0;
    }
    downloadBudget = std::min(downloadBudget, BudgetOfLimit(downLimit));
    uploadBudget = std::min(uploadBudget, BudgetOfLimit(upLimit));
}

int32_t TWorkWithTransStatis::DownloadAllowance()
{
    return ClampToInt(std::max<int64_t>(downloadBudget - rawIn, 0));
}

int32_t TWorkWithTransStatis::UploadAllowance()
{
    return ClampToInt(std::max<int64_t>(uploadBudget - rawOut, 0));
}

void TWorkWithTransStatis::CountTick(TPeerObject &peer)
{
    rawIn += peer.tick.received;
    rawOut += peer.tick.sent;
    peer.period.sent += peer.tick.sent;
}

void TWorkWithTransStatis::CountPayload(int64_t bytes)
{
    payloadIn += bytes;
    lastDataSeconds = EngineSeconds();
}

void TWorkWithTransStatis::CountUpload(int64_t bytes)
{
    rawOut += bytes;
}

void TWorkWithTransStatis::CountKindBytes(int32_t kind, int64_t bytes)
{
    if (kind == PEER_KIND_BT)
        live.peerBytes += static_cast<uint64_t>(bytes);
    else if (IsServerKind(kind))
        live.httpBytes += static_cast<uint64_t>(bytes);
}

int64_t TWorkWithTransStatis::TaskClock()
{
    return taskClock != 0 ? taskClock : EngineTime();
}

int64_t TWorkWithTransStatis::RateOfKinds(int32_t mask)
{
    int64_t sum = 0;
    for (TPeerObject *peer : connections) {
        if ((peer->Kind() & mask) != 0 && peer->IsConnected())
            sum += peer->period.downRate;
    }
    return sum;
}

void TWorkWithTransStatis::StatTick(bool complete)
{
    bool downloading = !complete;
    int64_t sample = downloading ? rawIn : payloadIn;
    live.speed = downloading ? ClampToInt((3 * payloadIn + live.speed) / 4) : 0;
    totalIn += static_cast<uint64_t>(sample);
    totalOut += static_cast<uint64_t>(rawOut);

    TSpeedClass pace = SpeedClassOf(downloading ? rawIn : rawOut);
    speedClass = pace.speedClass;
    servicePeriod = pace.servicePeriod;
    uploadPeriod = 3 * servicePeriod;
    roundPause = static_cast<uint32_t>(speedClass + 1);

    taskClock = EngineTime();
    int64_t run = std::max<int64_t>(EngineSeconds() - StartSeconds(), 1);
    if (downloading)
        avgIn = static_cast<int64_t>(totalIn) / run;
    avgOut = static_cast<int64_t>(totalOut) / run;

    int64_t left = 0;
    if (sumDownRate >= kRateFloorForEstimate && (completionTime == 0 || downloading) && HasPieces())
        left = static_cast<int64_t>(PieceLength()) * MissingPieceCount() / sumDownRate;
    live.secondsLeft = ClampToInt(left);

    int32_t downLimit = 0;
    int32_t upLimit = 0;
    {
        // The interface changes limits and validates settings under this lock.
        QAutoLock hold(OwnLock());
        settings.connectionBudget =
            ClampToInt(std::max<int64_t>((sumDownRate + sumUpRate) / 4096 + 8, kMinConnectionBudget));
        downLimit = settings.speedLimit1;
        upLimit = settings.speedLimit0;
    }
    uploadSlots = ClampToInt(std::min<int64_t>(std::max<int64_t>(sumUpRate / 8192 - 8, 8), 20));

    for (TPeerObject *peer : connections) {
        if (peer->IsConnected())
            peer->CancelObtained();
    }
    Scheduling().DropObtainedPending();

    lastSecondUpload = rawOut;
    rawIn = rawOut = payloadIn = 0;
    uploadsThisRound = 0;
    downloadBudget = BudgetOfLimit(downLimit);
    uploadBudget = BudgetOfLimit(upLimit);
    refreshRequested = true;

    if (FileSize() > 0)
        PeriodicSaveAndUpkeep(complete);
    if (!newPieces.empty()) {
        for (TPeerObject *peer : connections) {
            if (peer->Kind() == PEER_KIND_BT && peer->IsConnected())
                peer->AnnouncePieces(newPieces);
        }
        newPieces.clear();
    }

    if (complete)
        return;
    ConnectServers();
    if (IsListenEnabled())
        ConnectPeers();
    else
        DropConnections(PEER_KIND_BT, 2, false);
    SlowServerCheck();
    RotateServers();
}

void TWorkWithTransStatis::PeriodicSaveAndUpkeep(bool complete)
{
    uint32_t now = EngineSeconds();
    if (lastDataSeconds == 0)
        lastDataSeconds = now;
    if (saveRequested || lastSaveSeconds == 0 || now - lastSaveSeconds >= kSaveSeconds) {
        saveRequested = false;
        lastSaveSeconds = now;
        roundPause = roundPause / 2 + 1;
        if (!complete) {
            FlushDataFile();
            CheckComplete(TaskClock());
        }
        if (completed) {
            CloseDataFile(true);
            DeleteResumeRecord();
        } else {
            SaveResumeRecord();
        }
    }
    if (lastUpkeepSeconds != 0 && now - lastUpkeepSeconds < kUpkeepSeconds)
        return;
    lastUpkeepSeconds = now;
    {
        QAutoLock hold(OwnLock());
        if (pieces != nullptr)
            pieces->SetCacheBudget(std::min(8000, std::max(settings.limitB, 4)));
        PublishStatus(true, false);
        if (!completed && now - lastDataSeconds >= kNoDataStopSeconds) {
            uint32_t id = 0;
            RequestStop(id);
        }
    }
    DataFileHousekeeping();
    roundPause = roundPause / 2 + 1;
}

void TWorkWithTransStatis::SlowServerCheck()
{
    if (RateOfKinds(kPeerKindServers) >= kSlowServerRate) {
        slowServerTicks = 0;
        return;
    }
    if (++slowServerTicks < kSlowServerTicks)
        return;
    slowServerTicks = 0;
    ReAddSourceBackup(true);
}

void TWorkWithTransStatis::RateRound()
{
    int64_t down = 0;
    int64_t up = 0;
    for (TPeerObject *peer : connections) {
        peer->period.downRate = ClampToInt(peer->period.payload / 3);
        peer->period.upRate = ClampToInt(peer->period.sent / 3);
        peer->tick.speed = peer->period.downRate;
        peer->period.payload = 0;
        peer->period.sent = 0;
        peer->period.choked = false;
        peer->period.served = false;
        down += peer->period.downRate;
        up += peer->period.upRate;
    }
    sumDownRate = down;
    sumUpRate = up;
    TrimPeers();
    ChokeRound();
    DropBadServers();
}
