#pragma once
#include <atomic>
#include <cstdint>

#include "engine/core/work_with_pieces.h"

// Speed classes by the bytes of one second; they set the main loop's pace.
struct TSpeedClass {
    int32_t speedClass;
    int32_t servicePeriod;
};
TSpeedClass SpeedClassOf(int64_t bytesInSecond);

// Bytes per second a limit in KB/s allows (0: none).
int64_t BudgetOfLimit(int32_t limitKB);

// The statistics layer of a task: the one-second accounting window, rates,
// speed limits (allowances), the pace of the main loop, and the periodic
// save and upkeep of the data file.
class TWorkWithTransStatis : public TWorkWithPieces {
public:
    static constexpr int64_t kNoDataStopSeconds = 900;

    // The task clock: engine time recorded by the last tick (0 before it).
    int64_t taskClock = 0;
    // Milliseconds the main loop waits per round.
    uint32_t roundPause = 6;
    // Set by a tick that changed what the interface shows.
    bool refreshRequested = false;

    // The current one-second window.
    int64_t rawIn = 0;
    int64_t rawOut = 0;
    int64_t payloadIn = 0;
    // Bytes allowed per second; 0 until the first tick.
    int64_t downloadBudget = 0;
    int64_t uploadBudget = 0;
    uint64_t totalIn = 0;
    uint64_t totalOut = 0;
    int64_t avgIn = 0;
    int64_t avgOut = 0;
    int64_t sumDownRate = 0;
    int64_t sumUpRate = 0;
    int32_t speedClass = 5;
    int32_t uploadPeriod = 15;
    int32_t uploadsThisRound = 0;

    // Set by the interface when a speed limit changes.
    std::atomic<bool> limitsChanged{false};

    void Reset(bool release, bool full) override;

    // A lowered limit binds within the current second, not only from the
    // next tick: a download started just before its limit was set would
    // otherwise run a whole second unlimited.
    void ApplyChangedLimits();

    // Once a second.
    virtual void StatTick(bool complete);
    // Every three seconds: per-connection rates, then trimming, choking and
    // bad servers.
    virtual void RateRound();
    // Sum of the download rates of the connected peers of the kinds in mask.
    int64_t RateOfKinds(int32_t mask);

    // ITaskMeters.
    int32_t DownloadAllowance() override;
    int32_t UploadAllowance() override;
    void CountPayload(int64_t bytes) override;
    void CountUpload(int64_t bytes) override;
    void NoteUploading() override { ++uploadsThisRound; }
    int32_t UploadsThisRound() override { return uploadsThisRound; }
    void CountKindBytes(int32_t kind, int64_t bytes) override;
    // The clock of the pool and the scheduler: engine time of the last tick.
    int64_t TaskClock() override;

    // Adds a connection's tick counters to the window.
    void CountTick(TPeerObject &peer) override;

protected:
    int64_t AverageIn() override { return avgIn; }

private:
    void PeriodicSaveAndUpkeep(bool complete);
    void SlowServerCheck();

    uint32_t lastSaveSeconds = 0;
    uint32_t lastUpkeepSeconds = 0;
    uint32_t lastDataSeconds = 0;
    int32_t slowServerTicks = 0;
};
