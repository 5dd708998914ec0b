#pragma once
#include <cstdint>

#include "engine/base/ref_handle.h"

class IPeerTask;
class TPeerObject;

// A new peer object of the kind for the task; null
// (with a log line) for a kind this engine cannot drive yet.
TRef<TPeerObject> NewPeerObject(IPeerTask *task, int32_t kind);
