#pragma once
#include <cstdint>

class TBaseWork;

// The engine-wide list of tasks that accept incoming BitTorrent connections,
// with their info hashes; used under the registry lock (the functions take
// it themselves).

// Registers the task's hash unless the task is registered; an all-zero hash
// is never registered.
void SwarmJoin(TBaseWork *task, const uint8_t infoHash[20]);
void SwarmLeave(TBaseWork *task);
// Whether some task registered the 20-byte hash.
bool SwarmKnows(const uint8_t *infoHash);
