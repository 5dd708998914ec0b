#pragma once
#include "engine/net/peer_object.h"

// A peer of any kind whose connection state the test sets.
class TScriptedPeer : public TPeerObject {
public:
    TScriptedPeer(IPeerTask *task, int32_t kind) : TPeerObject(task, kind) {}
    bool ReadInput() override { return readResult; }
    bool IsConnected() override { return connected; }

    bool readResult = true;
    bool connected = true;
};
