#include "engine/net/lan_discovery.h"

#include <arpa/inet.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "engine/base/engine_clock.h"
#include "engine/base/engine_locks.h"
#include "engine/base/qmutex.h"
#include "engine/base/log_channels.h"
#include "engine/base/quarrowlight_log.h"
#include "engine/net/listening_service.h"

bool TLanDiscovery::Join()
{
    const uint32_t now = EngineSeconds();
    if (attempted && now - lastAttempt < kJoinRetrySeconds)
        return false;
    attempted = true;
    lastAttempt = now;
    const uint32_t interfaceAddress =
        chosenInterface != 0 ? chosenInterface : ListeningService().PublishedAddress();
    if (interfaceAddress != 0 && socket.Join(inet_addr(kLanGroupAddress), kLanGroupPort, interfaceAddress)) {
        toldFailure = false;
        EngineLogWrite("LAN discovery joined", LOG_CHANNEL_PEERS);
        return true;
    }
    if (!toldFailure) {
        toldFailure = true;
        EngineLogFormat(LOG_CHANNEL_PEERS, "LAN discovery could not join %s:%u: %s", kLanGroupAddress,
                        static_cast<unsigned>(kLanGroupPort),
                        interfaceAddress == 0 ? "no address yet" : std::strerror(errno));
    }
    return false;
}

bool TLanDiscovery::SendToGroup(const uint8_t *bytes, size_t length)
{
    return socket.SendToGroup(bytes, length);
}

int TLanDiscovery::Receive(uint8_t *buffer, size_t capacity, size_t &length, uint32_t &source)
{
    return socket.Receive(buffer, capacity, length, source);
}

namespace {
std::unique_ptr<TLanDiscovery> discovery;

// 0 with on = false for "off", the address for a dotted IPv4; false when the
// variable is unset (or says neither).
bool SwitchFromEnvironment(bool &on, uint32_t &address)
{
    const char *value = std::getenv("QUARROWLIGHT_LAN");
    if (value == nullptr || *value == '\0')
        return false;
    if (std::strcmp(value, "off") == 0) {
        on = false;
        address = 0;
        return true;
    }
    in_addr parsed{};
    if (inet_pton(AF_INET, value, &parsed) != 1)
        return false;
    on = true;
    address = parsed.s_addr;
    return true;
}
} // namespace

void ApplyLanDiscoverySwitch(bool frontEndChoice)
{
    bool on = frontEndChoice;
    uint32_t address = 0;
    SwitchFromEnvironment(on, address);
    QAutoLock hold(RegistryLock());
    if (!on) {
        DropLanDiscovery();
        return;
    }
    if (discovery != nullptr)
        return;
    discovery = std::make_unique<TLanDiscovery>(address);
    SetLanGroup(discovery.get());
}

void DropLanDiscovery()
{
    QAutoLock hold(RegistryLock());
    SetLanGroup(nullptr);
    if (discovery != nullptr)
        discovery->Leave();
    discovery.reset();
}

TLanDiscovery *EngineLanDiscovery()
{
    return discovery.get();
}
