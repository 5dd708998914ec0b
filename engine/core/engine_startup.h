#pragma once

// The first registered task starts the engine-wide services; the removal of
// the last one tears them down. Both run under the registry lock.
void EngineStartUp();
void EngineTearDown();
// The front-end's LAN discovery choice, applied at once while the engine
// runs and at every start-up.
void SetLanDiscoveryChoice(bool on);

// The system has no half-open connection limit to read, so the engine's own
// is fixed.
constexpr int kHalfOpenLimit = 32;
