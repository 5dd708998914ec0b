#pragma once
#include <cstdint>

// The engine-wide listening settings, written by the engine interface
// (SetListenPort, EnableListen) and read by the listening service and the
// peers. Readers take no lock.

constexpr int32_t kDefaultListenPort = 8080;

void SetEngineListenPort(int32_t port);
// The port as set; 0 when none was.
int32_t EngineListenPort();
// The port the listener opens: the one set, or 8080 when none (or no valid
// port) was.
int32_t EffectiveListenPort();

// The P2P switch: while off, no listener is open and BitTorrent peers are
// neither connected nor served. Off at load.
void SetListenEnabled(bool on);
bool IsListenEnabled();
