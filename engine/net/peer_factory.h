#pragma once
#include <cstdint>

class IPeerTask;
class TPeerObject;

// A new peer object of the kind for the task, holding one reference; null
// (with a log line) for a kind this engine cannot drive yet.
TPeerObject *NewPeerObject(IPeerTask *task, int32_t kind);
