#include "engine/net/listen_settings.h"

#include <atomic>

namespace {
std::atomic<int32_t> listenPort{0};
std::atomic<bool> listenEnabled{false};
} // namespace

void SetEngineListenPort(int32_t port)
{
    listenPort = port;
}

int32_t EngineListenPort()
{
    return listenPort.load();
}

int32_t EffectiveListenPort()
{
    int32_t port = listenPort.load();
    // Anything that is not a port counts as none set.
    return port >= 1 && port <= 65535 ? port : kDefaultListenPort;
}

void SetListenEnabled(bool on)
{
    listenEnabled = on;
}

bool IsListenEnabled()
{
    return listenEnabled.load();
}
