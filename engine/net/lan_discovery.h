#pragma once
#include <cstdint>

#include "engine/net/lan_exchange.h"
#include "engine/net/lan_group.h"
#include "platform/multicast_socket.h"

// The engine's membership of the LAN discovery group: joined by the
// listening service's refresh on the interface named for it, else on the
// published address; left on a socket error, when the service stops, or
// when discovery is switched off. A failed join is tried again at most
// every 10 s and told once, not at every refresh.
class TLanDiscovery : public QLanGroup, public ILanSocket {
public:
    static constexpr uint32_t kJoinRetrySeconds = 10;

    // interfaceAddress 0: the listening service's published address.
    explicit TLanDiscovery(uint32_t interfaceAddress) : chosenInterface(interfaceAddress) {}

    bool IsJoined() override { return socket.IsOpen(); }
    bool Join() override;
    void Leave() override { socket.Leave(); }

    bool SendToGroup(const uint8_t *bytes, size_t length) override;
    int Receive(uint8_t *buffer, size_t capacity, size_t &length, uint32_t &source) override;

private:
    uint32_t chosenInterface;
    platform::MulticastSocket socket;
    uint32_t lastAttempt = 0;
    bool attempted = false;
    bool toldFailure = false;
};

// The engine-wide switch: QUARROWLIGHT_LAN "off" turns discovery off, an
// IPv4 address turns it on over that interface; unset, the front-end's
// choice (EnableLanDiscovery) holds, off until it is made. Registers the
// group while discovery is on; called at engine start-up and tear-down.
void ApplyLanDiscoverySwitch(bool frontEndChoice);
void DropLanDiscovery();
// The registered membership, or null while discovery is off; the caller
// holds the registry lock while it uses it.
TLanDiscovery *EngineLanDiscovery();
