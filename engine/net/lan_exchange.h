#pragma once
#include <cstddef>
#include <cstdint>

#include "engine/net/lan_datagram.h"
#include "engine/net/lan_list.h"

// The group socket as an exchange uses it.
class ILanSocket {
public:
    // Sends the datagram to the group; false on a socket error.
    virtual bool SendToGroup(const uint8_t *bytes, size_t length) = 0;
    // One datagram when one is waiting: 1 with its length and source
    // (network order), 0 when none is, -1 on a socket error.
    virtual int Receive(uint8_t *buffer, size_t capacity, size_t &length, uint32_t &source) = 0;

protected:
    ~ILanSocket() = default;
};

// What the exchange needs of one task.
class ILanTask {
public:
    virtual const TLanHash &LanInfoHash() = 0;
    virtual const TLanHash &LanPeerId() = 0;
    // A peer of the task's torrent heard on the LAN.
    virtual void AddLanPeer(uint32_t address, uint16_t port, const TLanHash &peerId) = 0;

protected:
    ~ILanTask() = default;
};

// Where this engine is: the published address (network order) and port.
struct TLanSelf {
    uint32_t address = 0;
    uint16_t port = 0;
};

// One task's exchange: the announcement while its mark is clear, then the
// datagrams waiting and the LAN list. Bounded however much arrives: a few
// dozen reads, one answer and a few new peers per call.
class TLanExchange {
public:
    static constexpr int kMaxReads = 64;
    static constexpr size_t kMaxNewPeers = 8;

    // False when the group must be left (a socket error); a receive error
    // also clears the mark, so the task announces itself again.
    static bool Run(ILanSocket &socket, TLanList &list, ILanTask &task, const TLanSelf &self, bool &announced,
                    uint32_t now, size_t taskCount);
};
