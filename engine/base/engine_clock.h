#pragma once
#include <cstdint>

#include "engine/base/qthread.h"

// Engine seconds: a counter of whole seconds, 1 at load, never reset. Engine
// time: calendar seconds, 0 until the time thread first runs. Both are moved
// once a second by the time thread, so the engine's many per-second checks
// read a counter instead of the system clock. Readers take no lock.
uint32_t EngineSeconds();
int64_t EngineTime();

// Creates and starts the time thread unless one exists.
void TimeEnsure();
// Stops and deletes the time thread; a later clock read starts a new one.
void StopTimeThread();

class QTimeThread : public QThread {
public:
    ~QTimeThread() override;
    void Run() override;
    void Refresh() override {}

    // One round of Run, split out so tests can drive it with injected ticks.
    void BeginRounds();
    void Round();

private:
    uint32_t baseTick = 0;
    int64_t baseTime = 0;
    uint32_t baseSeconds = 0;
};

// Test control: moves both clocks forward at once, so periods of 45 s or
// 900 s are tested without waiting.
void AdvanceEngineClock(uint32_t seconds);
