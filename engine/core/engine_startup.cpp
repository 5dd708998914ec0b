#include "engine/core/engine_startup.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/base/engine_clock.h"
#include "engine/base/engine_locks.h"
#include "engine/core/engine_state.h"
#include "engine/core/task_registry.h"
#include "engine/core/udp_server_slot.h"
#include "engine/net/lan_discovery.h"
#include "engine/net/listening_service.h"

namespace {
// The built-in rendezvous server is under .invalid, which the engine never
// resolves; deployments name theirs in QUARROWLIGHT_RENDEZVOUS.
constexpr const char *kDefaultRendezvousHost = "rendezvous.quarrowlight.invalid";
constexpr uint16_t kDefaultRendezvousPort = 82;
std::atomic<bool> lanDiscoveryChoice{false};

bool RendezvousSettings(TUdpServerSettings &settings)
{
    settings.rendezvousHost = kDefaultRendezvousHost;
    settings.rendezvousPort = kDefaultRendezvousPort;
    const char *value = std::getenv("QUARROWLIGHT_RENDEZVOUS");
    if (value == nullptr || *value == '\0')
        return true;
    if (std::strcmp(value, "off") == 0)
        return false;
    std::string text(value);
    size_t colon = text.rfind(':');
    settings.rendezvousHost = text.substr(0, colon);
    if (colon != std::string::npos) {
        long port = std::strtol(text.c_str() + colon + 1, nullptr, 10);
        if (port > 0 && port < 65536)
            settings.rendezvousPort = static_cast<uint16_t>(port);
    }
    return true;
}
} // namespace

void EngineStartUp()
{
    TimeEnsure();
    EnsureEngineId();
    TUdpServerSettings settings;
    if (RendezvousSettings(settings)) {
        std::memcpy(settings.identity, EngineId(), sizeof settings.identity);
        EnsureUdpServer(settings);
    }
    engineIdle = false;
    outsideReachable = false;
    halfOpenLimit = kHalfOpenLimit;
    ApplyLanDiscoverySwitch(lanDiscoveryChoice.load());
}

void EngineTearDown()
{
    ListeningService().Stop(true);
    DropLanDiscovery();
    NotifyUdpServerNoTaskLeft();
    engineIdle = true;
    outsideReachable = false;
}

void SetLanDiscoveryChoice(bool on)
{
    lanDiscoveryChoice = on;
    QAutoLock hold(RegistryLock());
    if (!RegistryTasks().empty())
        ApplyLanDiscoverySwitch(on);
}
